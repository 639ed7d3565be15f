# Reads Google Benchmark CSV with aggregates and prints each benchmark's
# median, its share of the 60 ms tick and its ratio to the 2 MP picture.
BEGIN { FS = "," }
/_median"?,/ {
    name = $1; gsub(/"/, "", name); sub(/_median$/, "", name)
    us = $3
    if ($5 ~ /ns/) us = $3 / 1000
    if ($5 ~ /ms/) us = $3 * 1000
    key = name; sub(/\/MP:[0-9]+$/, "", key)
    mp = name; sub(/.*MP:/, "", mp)
    cost[key "|" mp] = us
    order[++n] = name; keys[name] = key; mps[name] = mp
}
END {
    printf "%-52s %12s %9s %7s\n", "benchmark", "median (us)", "% of tick", "x 2 MP"
    for (i = 1; i <= n; ++i) {
        name = order[i]; key = keys[name]
        us = cost[key "|" mps[name]]; base = cost[key "|2"]
        ratio = base > 0 ? us / base : 0
        printf "%-52s %12.3f %9.4f %7.2f\n", name, us, us / 600, ratio
    }
}
