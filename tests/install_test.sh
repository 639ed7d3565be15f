#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop sees:
# valid desktop entry and metainfo, the MIME list the loader really reads,
# the icons, and an installed binary that opens a picture.
# usage: install_test.sh BUILD_DIR MIME_TOOL SAMPLE_TOOL
set -euo pipefail
build=$1 mime_tool=$2 sample_tool=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
desktop=$prefix/share/applications/org.korvane.Korvane.desktop
desktop-file-validate "$desktop" || fail "desktop entry does not validate"
appstreamcli validate --no-net "$prefix/share/metainfo/org.korvane.Korvane.metainfo.xml" >/dev/null \
  || fail "metainfo does not validate"

expected=$(QT_QPA_PLATFORM=offscreen "$mime_tool")
actual=$(sed -n 's/^MimeType=//p' "$desktop")
[ "$actual" = "$expected" ] || fail "MimeType '$actual' is not what the loader reads: '$expected'"
case ";$actual" in *";image/jpeg;"*) ;; *) fail "MimeType lacks image/jpeg" ;; esac
grep -qx 'Exec=korvane %f' "$desktop" || fail "Exec does not pass one file"

for size in 16 32; do
  icon=$prefix/share/icons/hicolor/${size}x${size}/apps/korvane.png
  [ -s "$icon" ] || fail "no ${size}px icon"
  [ "$(identify -format '%wx%h' "$icon")" = "${size}x${size}" ] || fail "${size}px icon has the wrong size"
done

export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$prefix
"$sample_tool" "$prefix/picture.png" 400 300 2>/dev/null
"$prefix/bin/korvane" "$prefix/picture.png" 2>/dev/null &
pid=$!
sleep 1.5
kill -0 "$pid" 2>/dev/null || fail "the installed binary did not keep the picture open"
kill "$pid"
if "$prefix/bin/korvane" "$prefix/missing.png" 2>/dev/null; then fail "a missing file did not fail"; fi
echo "install checks: 1 passed, 0 failed"
