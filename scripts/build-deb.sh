#!/usr/bin/env bash
# Builds the Debian package from the tracked files, in a copy of the tree
# under build-deb/ (dpkg-buildpackage writes its results beside the tree it
# builds): build-deb/korvane_VERSION_ARCH.deb and its .changes and .buildinfo.
# Installs the build dependencies debian/control names when any is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh run dpkg-dev debhelper
out=build-deb
rm -rf "$out"
mkdir -p "$out/korvane"
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$out/korvane"
cd "$out/korvane"
dpkg-checkbuilddeps
dpkg-buildpackage -us -uc -b >../build.log 2>&1 || { tail -n 60 ../build.log; exit 1; }
cd ..
ls korvane_*.deb korvane_*.changes
