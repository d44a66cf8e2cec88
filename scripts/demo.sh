#!/usr/bin/env bash
# Builds everything (installing what is missing), then runs the sample report:
# ufhost, our stand-in for the report engine, loads the function library and
# fills examples/asset_report.txt from examples/assets.csv, with fiscal-year
# ends read from the sample company database on SQLite through ODBC.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

BUILD_DIR=${BUILD_DIR:-build}
LIB=$BUILD_DIR/src/libu2lvost.so
UFHOST=$BUILD_DIR/host/ufhost
DEMO=$BUILD_DIR/demo

# The embedded company database and its data source "WINZELRW", private to the demo.
mkdir -p "$DEMO"
bash db/make_sample.sh sqlite 4 "$DEMO/company.db"
eval "$(bash scripts/odbc-dsn.sh sqlite "$DEMO/company.db" "$DEMO/odbc")"
# The calendar engine, registered in the demo's own class registry.
export U2LVOST_COM_REGISTRY="$(cd "$DEMO" && pwd)/com-classes.reg"
"$BUILD_DIR/com/regsvr" /s "$BUILD_DIR/engine/libvrzelcal.so"

echo "== The library's functions ($UFHOST $LIB --list)"
"$UFHOST" "$LIB" --list

echo
echo "== Sample calls (examples/sample_calls.txt); results in brackets to show their blanks"
mapfile -t calls < <(grep -Ev '^[[:space:]]*(#|$)' examples/sample_calls.txt)
results=$("$UFHOST" "$LIB" --file examples/sample_calls.txt)
mapfile -t lines <<<"$results"
for i in "${!calls[@]}"; do
  printf '  %-46s [%s]\n' "${calls[$i]}" "${lines[$i]-}"
done

echo
echo "== The sample report (examples/asset_report.txt with examples/assets.csv)"
"$UFHOST" "$LIB" --report examples/asset_report.txt --rows examples/assets.csv
