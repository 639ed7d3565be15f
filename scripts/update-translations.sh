#!/usr/bin/env bash
# Brings translations/*.ts up to date with the program's texts: a new text
# comes in unfinished, a text no longer used is marked obsolete, and every
# translation already made is kept. The texts are found by the name
# `translated` (src/decode/texts.h) and by QT_TRANSLATE_NOOP.
# usage: update-translations.sh [--check]   (--check: fail if any is out of date)
set -euo pipefail
cd "$(dirname "$0")/.."
lupdate=$(command -v lupdate || echo /usr/lib/qt6/bin/lupdate)
for ts in translations/korvane_*.ts; do
  target=$ts
  if [ "${1:-}" = --check ]; then
    target=$(mktemp --suffix=.ts)
    cp "$ts" "$target"
  fi
  "$lupdate" -silent -locations none -no-obsolete -tr-function-alias translate+=translated src -ts "$target"
  if [ "${1:-}" = --check ]; then
    cmp -s "$ts" "$target" || { diff "$ts" "$target"; echo "$ts is out of date: run scripts/update-translations.sh" >&2; exit 1; }
    rm -f "$target"
    ! grep -q 'type="unfinished"' "$ts" || { echo "$ts has untranslated texts" >&2; exit 1; }
  fi
done
