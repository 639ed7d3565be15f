#!/usr/bin/env bash
# Installs the build into a scratch prefix with cmake --install and checks
# what a desktop sees of it (tests/desktop_checks.sh).
# usage: install_test.sh BUILD_DIR MIME_TOOL SAMPLE_TOOL
set -euo pipefail
build=$1 mime_tool=$2 sample_tool=$3
here=$(dirname "$0")
source "$here/../scripts/lib/xvfb.sh"
source "$here/desktop_checks.sh"
prefix=$(mktemp -d)
trap 'kill ${viewer:-} ${XVFB_PID:-} 2>/dev/null; rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
mkdir "$prefix/work"
check_desktop_integration "$prefix" "$prefix/work" "$mime_tool" "$sample_tool"
echo "install checks: 1 passed, 0 failed"
