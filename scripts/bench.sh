#!/usr/bin/env bash
# Installs what is missing (with the peer viewers gpicview, feh, nsxiv,
# qimgv and eog, and the HEIF loader for the GTK ones), builds a release, and runs every benchmark: the per-move, layout and
# toggle costs, then time to the first frame and peak memory side by side
# with the decoders alone and the peers. Prints tables of medians and
# ratios. Pictures are generated in a scratch directory and removed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh gpicview feh nsxiv qimgv eog heif-gdk-pixbuf libheif-examples
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVANE_BENCHMARKS=ON -DKORVANE_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)"

echo "== Interaction: median of 5, as a share of the 60 ms tick; x2MP = this picture's cost / the 2 MP picture's"
build-bench/bench/korvane-interaction-bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_min_time=0.1 --benchmark_format=csv 2>/dev/null | awk -f bench/interaction_table.awk


echo
echo "== A bare Qt window on a 1920x1080 Xvfb screen, peak resident MB (the floor for the 2 MP row below)"
xvfb-run -a -s "-screen 0 1920x1080x24" build-bench/bench/korvane-bare-window

echo
echo "== Whole program on a 1920x1080 Xvfb screen: median of 5"
build-bench/bench/korvane-first-frame-bench build-bench/src/korvane build-bench/bench/korvane-png-decode 5
