# Sourced by the install tests: check_desktop_integration PREFIX WORK
# MIME_TOOL SAMPLE_TOOL checks what a desktop sees of the program installed
# under PREFIX: a valid desktop entry and metainfo, a software catalogue
# composed from them with its icons, the MIME list the loader really reads,
# the icons at every size, the manual page, the translations, and the
# installed binary showing pictures in a window carrying its icon. Scratch
# files go to WORK. Needs start_xvfb and wait_until (scripts/lib/xvfb.sh).

# Ends the test with its reason.
fail() { echo "FAIL: $*"; exit 1; }

check_desktop_integration() {
  local prefix=$1 work=$2 mime_tool=$3 sample_tool=$4
  local id=org.korvane.Korvane
  local desktop=$prefix/share/applications/$id.desktop
  local metainfo=$prefix/share/metainfo/$id.metainfo.xml
  desktop-file-validate "$desktop" || fail "desktop entry does not validate"
  appstreamcli validate --pedantic --no-net "$metainfo" >/dev/null || fail "metainfo does not validate"

  # The fixed lists in the desktop entry and the metainfo are what the loader reads here.
  local expected actual mediatypes
  expected=$(QT_QPA_PLATFORM=offscreen "$mime_tool" 2>/dev/null)
  actual=$(sed -n 's/^MimeType=//p' "$desktop")
  [ "$actual" = "$expected" ] || fail "MimeType '$actual' is not what the loader reads: '$expected'"
  mediatypes=$(sed -n 's:.*<mediatype>\(.*\)</mediatype>.*:\1;:p' "$metainfo" | tr -d '\n')
  [ "$mediatypes" = "$expected" ] || fail "metainfo media types '$mediatypes' are not '$expected'"
  grep -qx 'Exec=korvane %f' "$desktop" || fail "Exec does not pass one file"

  local icons=$prefix/share/icons/hicolor size
  [ -s "$icons/scalable/apps/$id.svg" ] || fail "no scalable icon"
  for size in 16 22 24 32 48 64 128 256 512; do
    [ "$(identify -format '%wx%h' "$icons/${size}x${size}/apps/$id.png" 2>/dev/null)" = "${size}x${size}" ] \
      || fail "no ${size}px icon"
  done

  # A software centre's catalogue: the component, with icons of 64 px and more.
  local stage=$work/stage catalogue=$work/catalogue composed
  mkdir -p "$stage"
  (cd "$prefix" && cp --parents "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml" \
    share/icons/hicolor/*/apps/$id.* "$stage")
  appstreamcli compose --origin=korvane --result-root="$catalogue" --prefix=/ "$stage" >/dev/null \
    || fail "appstreamcli compose failed"
  composed=$(zcat "$catalogue/share/swcatalog/xml/korvane.xml.gz")
  grep -q "<id>$id</id>" <<<"$composed" || fail "the catalogue lacks the component"
  for size in 64 128; do
    grep -q "<icon type=\"cached\" width=\"$size\"" <<<"$composed" || fail "the catalogue has no ${size}px icon"
  done

  # The manual page, as man shows it.
  local page
  page=$(find "$prefix/share/man/man1" -name 'korvane.1*' | head -n1)
  [ -n "$page" ] || fail "no manual page"
  LC_ALL=C.UTF-8 man -l "$page" 2>/dev/null | grep -q 'korvane - show one image' || fail "the manual page does not show"
  [ -s "$prefix/share/korvane/translations/korvane_ja.qm" ] || fail "no Japanese translation"

  # The installed binary shows a picture, in a window of the desktop entry's class with an icon.
  start_xvfb 1280x800x24 || fail "no X server"
  mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
  export XDG_RUNTIME_DIR=$work/runtime
  "$sample_tool" "$work/picture.png" 400 300 2>/dev/null
  "$prefix/bin/korvane" "$work/picture.png" 2>/dev/null &
  viewer=$!
  wait_until 10 xdotool search --onlyvisible --name '^KORVANE$' >/dev/null || fail "the installed binary shows no window"
  local window class icon_property
  window=$(xdotool search --onlyvisible --name '^KORVANE$' | head -n1)
  class=$(sed -n 's/^StartupWMClass=//p' "$desktop")
  [[ "$(xprop -id "$window" WM_CLASS)" == *"\"$class\"" ]] || fail "WM_CLASS is not $class: $(xprop -id "$window" WM_CLASS)"
  icon_property=$(xprop -id "$window" _NET_WM_ICON) # whole, not piped: grep -q would cut xprop short
  for size in 16 32 64 128; do
    grep -q "Icon ($size x $size)" <<<"$icon_property" || fail "_NET_WM_ICON lacks ${size}px"
  done
  kill "$viewer"; wait "$viewer" 2>/dev/null || true

  # A JPEG, a HEIC (its decoder module installed beside the program), a
  # JPEG XL (likewise) and an SVG picture, each shown without a complaint.
  convert "$work/picture.png" "$work/picture.jpg" || fail "cannot write a JPEG"
  heif-enc -q 90 -o "$work/picture.heic" "$work/picture.png" >/dev/null 2>&1 || fail "heif-enc cannot encode"
  cjxl -q 100 "$work/picture.png" "$work/picture.jxl" >/dev/null 2>&1 || fail "cjxl cannot encode"
  printf '<svg xmlns="http://www.w3.org/2000/svg" width="300" height="200"><rect width="300" height="200" fill="#369"/></svg>\n' \
    >"$work/picture.svg"
  local format
  for format in jpg heic jxl svg; do
    "$prefix/bin/korvane" "$work/picture.$format" 2>"$work/errors.txt" &
    viewer=$!
    wait_until 10 xdotool search --onlyvisible --name '^KORVANE$' >/dev/null \
      || fail "the installed binary shows no $format picture: $(cat "$work/errors.txt")"
    kill "$viewer"; wait "$viewer" 2>/dev/null || true
    [[ ! -s "$work/errors.txt" ]] || fail "the $format picture was refused: $(cat "$work/errors.txt")"
    wait_until 10 sh -c "! xdotool search --onlyvisible --name '^KORVANE\$' >/dev/null" || fail "the $format window stays"
  done

  # The reason in the locale's language, on one line.
  local missing=$work/missing.png
  [ "$(LANG=ja_JP.UTF-8 QT_QPA_PLATFORM=offscreen "$prefix/bin/korvane" "$missing" 2>&1)" \
    = "korvane: '$missing' を開けません: そのようなファイルはありません" ] || fail "no Japanese reason"
  [ "$(LANG=C QT_QPA_PLATFORM=offscreen "$prefix/bin/korvane" "$missing" 2>&1)" \
    = "korvane: cannot open '$missing': no such file" ] || fail "no English reason"
  if QT_QPA_PLATFORM=offscreen "$prefix/bin/korvane" "$missing" 2>/dev/null; then fail "a missing file did not fail"; fi
}
