#!/usr/bin/env bash
# Installs the Debian packages the viewer needs: `install-deps.sh run` those
# to build and run it, `install-deps.sh` also those of the tests, and any
# further packages named after the mode (the benchmarks' peers).
# Safe to run again: packages already present are skipped.
set -euo pipefail

mode=test
if [ "${1:-}" = run ] || [ "${1:-}" = test ]; then
  mode=$1
  shift
fi

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-tools-dev qt6-l10n-tools libqt6opengl6-dev libgl-dev
  qt6-image-formats-plugins qt6-qpa-plugins qt6-wayland qt6-translations-l10n
  libjpeg62-turbo-dev libpng-dev libfontconfig-dev libtiff-dev libwebp-dev libgif-dev libopenjp2-7-dev librsvg2-dev zlib1g-dev
  libheif-dev libjxl-dev liblcms2-dev libisal-dev
  fonts-ipafont-gothic fontconfig
)
if [ "$mode" = test ]; then
  packages+=(
    googletest libgtest-dev libgmock-dev libbenchmark-dev libjpeg-turbo-progs
    xvfb xdotool x11-utils x11-xserver-utils imagemagick libx11-dev libxext-dev libxtst-dev
    clang clang-tidy libclang-rt-14-dev
    dpkg-dev debhelper lintian man-db
    desktop-file-utils appstream appstream-compose
    sway grim libwayland-dev
    libheif-examples libavif-bin libjxl-tools libimage-exiftool-perl liblcms2-utils icc-profiles-free libgs-common
    webp gifsicle pngcrush libtiff-tools icoutils libopenjp2-tools librsvg2-bin strace
  )
fi
packages+=("$@")

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
