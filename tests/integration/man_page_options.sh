#!/usr/bin/env bash
# Every option that a program's --help names is in its manual page, and the page renders
# without warnings: the two are written apart, and this keeps them from drifting.
#   man_page_options.sh PROGRAM PAGE
set -euo pipefail
program=$1
page=$2
help=$("$program" --help </dev/null) || { echo "$program --help failed"; exit 1; }
options=$(grep -o -- '--[a-z][a-z-]*\|/[A-Za-z]*:' <<<"$help" | sort -u)
[ -n "$options" ] || { echo "$program --help names no option"; exit 1; }
missing=()
while read -r option; do
  # In the page's roff every "-" of an option is written "\-".
  grep -qF -- "${option//-/\\-}" "$page" || missing+=("$option")
done <<<"$options"
if [ ${#missing[@]} -gt 0 ]; then
  echo "$(basename "$page") lacks: ${missing[*]}"
  exit 1
fi
if command -v man >/dev/null; then
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l --warnings "$page" 2>&1 >/dev/null || true)
  [ -z "$warnings" ] || { echo "$(basename "$page") renders with warnings: $warnings"; exit 1; }
fi
echo "$(basename "$page"): every option of --help is there"
