#!/usr/bin/env bash
# Builds everything (installing what is missing), then shows the function library
# at work through ufhost, our stand-in for the report engine: the functions it
# offers, a few sample calls, and a small report filled from a CSV file.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

BUILD_DIR=${BUILD_DIR:-build}
LIB=$BUILD_DIR/src/libu2lvost.so
UFHOST=$BUILD_DIR/host/ufhost

echo
echo "== The library's functions ($UFHOST $LIB --list)"
"$UFHOST" "$LIB" --list

echo
echo "== Sample calls (examples/sample_calls.txt); results in brackets to show their blanks"
mapfile -t calls < <(grep -Ev '^[[:space:]]*(#|$)' examples/sample_calls.txt)
results=$("$UFHOST" "$LIB" --file examples/sample_calls.txt)
mapfile -t lines <<<"$results"
for i in "${!calls[@]}"; do
  printf '  %-56s [%s]\n' "${calls[$i]}" "${lines[$i]-}"
done

echo
echo "== A small report (examples/asset_list.txt with examples/assets.csv)"
"$UFHOST" "$LIB" --report examples/asset_list.txt --rows examples/assets.csv
