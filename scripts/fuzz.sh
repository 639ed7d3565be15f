#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a fixed time
# (seconds, default 60) from the seeds in tests/fuzz/seeds. What they find
# stays in build-fuzz/corpus; a crash, leak or timeout fails the run and
# leaves its input in build-fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKORVANE_FUZZERS=ON -DKORVANE_TESTS=OFF -DKORVANE_WERROR=ON >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target korvane-load-fuzzer korvane-navigation-fuzzer
mkdir -p build-fuzz/artifacts
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in load navigation; do
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  # Pictures up to 8 KB: enough for every header and chunk; a few hundred
  # bytes describe a long session of pointer moves.
  max_len=$([ "$target" = load ] && echo 8192 || echo 512)
  log=build-fuzz/$target.log
  if ! build-fuzz/tests/fuzz/korvane-$target-fuzzer -max_total_time="$seconds" -max_len="$max_len" \
      -timeout=20 -rss_limit_mb=3072 -print_final_stats=1 -artifact_prefix=build-fuzz/artifacts/ \
      "$corpus" "tests/fuzz/seeds/$target" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzzer $target failed; input in build-fuzz/artifacts/" >&2
    exit 1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
  echo "fuzzer $target: $runs runs in ${seconds} s, corpus $(ls "$corpus" | wc -l) inputs, no faults"
done
