#!/usr/bin/env bash
# The Debian package as a user gets it: lintian accepts the package and its
# .changes with no error and no warning; apt installs it with what running
# needs; the installed program passes the desktop checks
# (tests/desktop_checks.sh); dpkg -r leaves no file of it behind.
# Installs and removes the package on this machine: run as root, on a
# machine where korvane is not otherwise installed.
# usage: deb_test.sh DEB_DIR MIME_TOOL SAMPLE_TOOL
set -euo pipefail
debs=$(cd "$1" && pwd) mime_tool=$2 sample_tool=$3
here=$(dirname "$0")
source "$here/../scripts/lib/xvfb.sh"
source "$here/desktop_checks.sh"
work=$(mktemp -d)
trap 'kill ${viewer:-} ${XVFB_PID:-} 2>/dev/null; rm -rf "$work"' EXIT

changes=$(ls "$debs"/korvane_*.changes)
deb=$(ls "$debs"/korvane_*.deb)
lintian --fail-on error,warning --no-tag-display-limit "$changes" >"$work/lintian.txt" 2>&1 \
  || { cat "$work/lintian.txt"; fail "lintian: $(grep -c '^[EW]:' "$work/lintian.txt") errors and warnings"; }
grep -q '^[EW]:' "$work/lintian.txt" && { cat "$work/lintian.txt"; fail "lintian reports"; }
echo "lintian: $(wc -l <"$work/lintian.txt") lines, no error, no warning"

export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq --no-install-recommends "$deb" >"$work/apt.txt" 2>&1 || { cat "$work/apt.txt"; fail "apt cannot install $deb"; }
dpkg -L korvane | while read -r path; do [ -d "$path" ] || echo "$path"; done >"$work/files.txt"
echo "installed: $(dpkg-query -W -f='${Package} ${Version}' korvane), $(wc -l <"$work/files.txt") files"
echo "Depends: $(dpkg-query -W -f='${Depends}' korvane)"
man -w korvane >/dev/null || fail "man does not find the page"
mkdir "$work/checks"
check_desktop_integration /usr "$work/checks" "$mime_tool" "$sample_tool"

dpkg -r korvane >"$work/remove.txt" 2>&1 || { cat "$work/remove.txt"; fail "dpkg -r failed"; }
left=$(while read -r path; do [ ! -e "$path" ] || echo "$path"; done <"$work/files.txt")
[ -z "$left" ] || fail "dpkg -r left: $left"
[ ! -e /usr/share/korvane ] && [ ! -e /usr/lib/x86_64-linux-gnu/korvane ] || fail "dpkg -r left the program's directories"
echo "deb checks: 1 passed, 0 failed"
