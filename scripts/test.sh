#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: once
# under AddressSanitizer and UndefinedBehaviorSanitizer, then in a plain
# build, whose CTest summary ends the output.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
# Leaks are checked too; the suppressions name only what the libraries
# keep for the life of the process.
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORVANE_SANITIZE=ON -DKORVANE_WERROR=ON >/dev/null
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure -j "$jobs"

# The fuzzers, briefly: arbitrary files through load and first paint, and
# arbitrary sizes and pointer moves through layout and navigation.
bash scripts/fuzz.sh 60

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_WERROR=ON >/dev/null
cmake --build build-test -j "$jobs"
# Static analysis over the program's own sources, with the checks that
# .clang-tidy names: any finding fails the run, as a warning fails the build.
find src -name '*.cpp' -print0 |
  xargs -0 -n 4 -P "$jobs" clang-tidy -p build-test --quiet --warnings-as-errors='*' 2>/dev/null
echo "clang-tidy: no findings"
ctest --test-dir build-test --output-on-failure -j "$jobs"

# The Debian package: built from the tracked files, checked by lintian,
# installed with apt, run, and removed.
bash scripts/build-deb.sh
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo bash tests/deb_test.sh build-deb build-test/tools/korvane-mime-types build-test/tools/korvane-sample
