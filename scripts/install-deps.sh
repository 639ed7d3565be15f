#!/usr/bin/env bash
# Installs every Debian package the viewer needs to build, run and be tested,
# and any further packages named as arguments (the benchmarks' peers).
# Safe to run again: packages already present are skipped.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev
  qt6-image-formats-plugins qt6-qpa-plugins
  libjpeg62-turbo-dev libjpeg-turbo-progs libpng-dev libtiff-dev libwebp-dev zlib1g-dev
  fonts-ipafont-gothic fontconfig
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xdotool x11-utils imagemagick libx11-dev libxext-dev libxtst-dev
  clang libclang-rt-14-dev
  desktop-file-utils appstream
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
