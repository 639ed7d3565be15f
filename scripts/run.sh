#!/usr/bin/env bash
# Installs what is missing, builds, and opens the viewer on PATH, or on a
# sample picture made by the project when no path is given.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVANE_TESTS=OFF >/dev/null
cmake --build build
if [ $# -eq 0 ]; then
  sample=build/sample.png
  [ -f "$sample" ] || build/tools/korvane-sample "$sample"
  exec build/src/korvane "$sample"
fi
exec build/src/korvane "$@"
