#!/usr/bin/env bash
# Builds and runs the benchmarks: the formula functions in-process, and warm
# ZelFYEnd calls through the loaded library on the SQLite sample company.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
BUILD_DIR=${BUILD_DIR:-build}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash db/make_sample.sh sqlite 4 "$work/company.db"
eval "$(bash scripts/odbc-dsn.sh sqlite "$work/company.db" "$work/odbc")"
export U2LVOST_COM_REGISTRY="$work/com-classes.reg"
"$BUILD_DIR/com/regsvr" /s "$BUILD_DIR/engine/libvrzelcal.so"

"$BUILD_DIR/bench/bench_functions" "$@"
"$BUILD_DIR/bench/bench_fyend" "$@"
