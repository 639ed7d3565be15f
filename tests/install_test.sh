#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop sees:
# a valid desktop entry and metainfo, a software catalogue composed from
# them with its icons, the MIME list the loader really reads, the icons at
# every size, and an installed binary that shows a picture in a window
# carrying its icon.
# usage: install_test.sh BUILD_DIR MIME_TOOL SAMPLE_TOOL
set -euo pipefail
build=$1 mime_tool=$2 sample_tool=$3
source "$(dirname "$0")/../scripts/lib/xvfb.sh"
prefix=$(mktemp -d)
trap 'kill ${viewer:-} ${XVFB_PID:-} 2>/dev/null; rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
id=org.korvane.Korvane
desktop=$prefix/share/applications/$id.desktop
metainfo=$prefix/share/metainfo/$id.metainfo.xml
desktop-file-validate "$desktop" || fail "desktop entry does not validate"
appstreamcli validate --pedantic --no-net "$metainfo" >/dev/null || fail "metainfo does not validate"

# The fixed lists in the desktop entry and the metainfo are what the loader reads here.
expected=$(QT_QPA_PLATFORM=offscreen "$mime_tool" 2>/dev/null)
actual=$(sed -n 's/^MimeType=//p' "$desktop")
[ "$actual" = "$expected" ] || fail "MimeType '$actual' is not what the loader reads: '$expected'"
mediatypes=$(sed -n 's:.*<mediatype>\(.*\)</mediatype>.*:\1;:p' "$metainfo" | tr -d '\n')
[ "$mediatypes" = "$expected" ] || fail "metainfo media types '$mediatypes' are not '$expected'"
grep -qx 'Exec=korvane %f' "$desktop" || fail "Exec does not pass one file"

icons=$prefix/share/icons/hicolor
[ -s "$icons/scalable/apps/$id.svg" ] || fail "no scalable icon"
for size in 16 22 24 32 48 64 128 256 512; do
  icon=$icons/${size}x${size}/apps/$id.png
  [ "$(identify -format '%wx%h' "$icon" 2>/dev/null)" = "${size}x${size}" ] || fail "no ${size}px icon"
done

# A software centre's catalogue: the component, with icons of 64 px and more.
catalogue=$prefix/catalogue
appstreamcli compose --origin=korvane --result-root="$catalogue" --prefix=/ "$prefix" >/dev/null \
  || fail "appstreamcli compose failed"
composed=$(zcat "$catalogue/share/swcatalog/xml/korvane.xml.gz")
grep -q "<id>$id</id>" <<<"$composed" || fail "the catalogue lacks the component"
for size in 64 128; do
  grep -q "<icon type=\"cached\" width=\"$size\"" <<<"$composed" || fail "the catalogue has no ${size}px icon"
done

# The installed binary shows a picture, in a window of the desktop entry's class with an icon.
start_xvfb 1280x800x24 || fail "no X server"
export XDG_RUNTIME_DIR=$prefix
"$sample_tool" "$prefix/picture.png" 400 300 2>/dev/null
"$prefix/bin/korvane" "$prefix/picture.png" 2>/dev/null &
viewer=$!
wait_until 10 xdotool search --onlyvisible --name '^KORVANE$' >/dev/null || fail "the installed binary shows no window"
window=$(xdotool search --onlyvisible --name '^KORVANE$' | head -n1)
class=$(sed -n 's/^StartupWMClass=//p' "$desktop")
[[ "$(xprop -id "$window" WM_CLASS)" == *"\"$class\"" ]] || fail "WM_CLASS is not $class: $(xprop -id "$window" WM_CLASS)"
icon_property=$(xprop -id "$window" _NET_WM_ICON) # whole, not piped: grep -q would cut xprop short
for size in 16 32 64 128; do
  grep -q "Icon ($size x $size)" <<<"$icon_property" || fail "_NET_WM_ICON lacks ${size}px"
done
kill "$viewer"; wait "$viewer" 2>/dev/null || true
# A JPEG XL picture takes the decoder module installed beside the program.
cjxl -q 100 "$prefix/picture.png" "$prefix/picture.jxl" >/dev/null 2>&1 || fail "cjxl cannot encode"
"$prefix/bin/korvane" "$prefix/picture.jxl" 2>"$prefix/jxl-errors.txt" &
viewer=$!
wait_until 10 xdotool search --onlyvisible --name '^KORVANE$' >/dev/null \
  || fail "the installed binary shows no JPEG XL picture: $(cat "$prefix/jxl-errors.txt")"
[[ ! -s "$prefix/jxl-errors.txt" ]] || fail "the JPEG XL picture was refused: $(cat "$prefix/jxl-errors.txt")"
if QT_QPA_PLATFORM=offscreen "$prefix/bin/korvane" "$prefix/missing.png" 2>/dev/null; then fail "a missing file did not fail"; fi
echo "install checks: 1 passed, 0 failed"
