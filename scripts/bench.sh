#!/usr/bin/env bash
# Builds the library and the benchmarks (Release) and runs them all on generated
# company databases: warm and cold fiscal-year lookups, calendar sizes, the
# alternating-company report, ufhost over a million-row CSV and pandas' FY5253
# for comparison. Then writes bench/README.md from the results.
# Extra arguments go to every Google Benchmark program (e.g. --benchmark_filter=...).
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build-release}
export BUILD_DIR
bash scripts/setup.sh -DCMAKE_BUILD_TYPE=Release

# Debian's pandas for the comparison row; the row is skipped when it cannot be had.
PANDAS_PY=/usr/bin/python3
[ -x "$PANDAS_PY" ] || PANDAS_PY=python3
if ! "$PANDAS_PY" -c 'import pandas' 2>/dev/null; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  { $SUDO apt-get update -qq && $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends python3-pandas; } ||
    echo "bench.sh: python3-pandas could not be installed; the pandas row is skipped" >&2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 bench/make_bench_data.py db/schema.sql "$work" 100000 1000000
export U2LVOST_COM_REGISTRY="$work/com-classes.reg" U2LVOST_BENCH_DATA="$work"
"$BUILD_DIR/com/regsvr" /s "$BUILD_DIR/engine/libvrzelcal.so"

# One program per company database: the library reads the schema version once a process.
# The repetitions of all its benchmarks run in random order, so a figure and its
# floor see the same machine even when its speed drifts during the run.
run() {
  local db=$1 program=$2
  (
    eval "$(bash scripts/odbc-dsn.sh sqlite "$work/$db" "$work/odbc-$program")"
    "$BUILD_DIR/bench/$program" --benchmark_enable_random_interleaving=true \
      --benchmark_out="$work/$program.json" --benchmark_out_format=json "${@:3}"
  )
}
# bench_calendar_size runs pandas itself, in turn with ZelFYEnd: the table's
# figures. The runs here, just before and just after that program, give pandas'
# version and stand in when that benchmark is filtered out.
: >"$work/pandas.json"
have_pandas=""
"$PANDAS_PY" -c 'import pandas' 2>/dev/null && have_pandas=1
[ -n "$have_pandas" ] || echo "bench.sh: pandas is not available; the pandas row is skipped" >&2
[ -z "$have_pandas" ] || export U2LVOST_PANDAS_PY="$PANDAS_PY"
pandas() { [ -z "$have_pandas" ] || "$PANDAS_PY" bench/pandas_fy5253.py | tee -a "$work/pandas.json"; }

"$BUILD_DIR/bench/bench_functions" "$@"
run built.db bench_fyend "$@"
pandas
run stored.db bench_calendar_size "$@"
pandas

BENCH_BUILD_TYPE=$(sed -n "s/^CMAKE_BUILD_TYPE:STRING=//p" "$BUILD_DIR/CMakeCache.txt") \
  python3 bench/make_table.py bench/README.md "$work/bench_fyend.json" "$work/bench_calendar_size.json" "$work/pandas.json"
cat bench/README.md
