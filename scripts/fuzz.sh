#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang, AddressSanitizer and UBSan into
# build-fuzz/, then runs each for a bounded time from its seed corpus.
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS: per target (default 15). TARGET: exports fyend ktstr formula csv
# template (default: all). Inputs that reach new code are kept in
# build-fuzz/corpus/TARGET/ and read again by the next run (the seeds in
# fuzz/corpus/TARGET/ are only read); an input that breaks a rule is saved as
# build-fuzz/crashes/TARGET/crash-* and the script fails. Replay one with
#   build-fuzz/fuzz/fuzz_TARGET build-fuzz/crashes/TARGET/crash-...
# The year-end target reads a fresh schema-5 SQLite sample company through its
# own WINZELRW data source; set U2LVOST_FUZZ_COMPANY_DB= (empty) to fuzz it with
# no data source at all.
set -euo pipefail
cd "$(dirname "$0")/.."

ALL_TARGETS=(exports fyend ktstr formula csv template)
SECONDS_EACH=15
if [ $# -gt 0 ] && [[ "$1" =~ ^[0-9]+$ ]]; then
  SECONDS_EACH=$1
  shift
fi
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=("${ALL_TARGETS[@]}")
for t in "${TARGETS[@]}"; do
  [[ " ${ALL_TARGETS[*]} " == *" $t "* ]] || { echo "fuzz.sh: unknown target '$t' (${ALL_TARGETS[*]})" >&2; exit 2; }
done

U2LVOST_PACKAGES_ONLY=1 bash scripts/setup.sh

OUT=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$OUT" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DU2LVOST_FUZZ=ON \
  -DU2LVOST_TESTS=OFF -DU2LVOST_BENCH=OFF >/dev/null
cmake --build "$OUT" -j"$(nproc)" --target $(printf 'fuzz_%s ' "${TARGETS[@]}")

if [ -z "${U2LVOST_FUZZ_COMPANY_DB+set}" ]; then
  rm -f "$OUT/company.db"
  bash db/make_sample.sh sqlite 5 "$OUT/company.db" >"$OUT/company.log" 2>&1 ||
    { cat "$OUT/company.log" >&2; exit 1; }
  export U2LVOST_FUZZ_COMPANY_DB="$(pwd)/$OUT/company.db"
fi
if [ -n "$U2LVOST_FUZZ_COMPANY_DB" ]; then
  eval "$(bash scripts/odbc-dsn.sh sqlite "$U2LVOST_FUZZ_COMPANY_DB" "$(pwd)/$OUT/odbc")"
fi

# Leaks are checked too; symbolized reports name our files and lines.
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=()
for t in "${TARGETS[@]}"; do
  mkdir -p "$OUT/corpus/$t" "$OUT/crashes/$t" "$OUT/logs"
  log="$OUT/logs/$t.log"
  if "$OUT/fuzz/fuzz_$t" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
      -print_final_stats=1 -artifact_prefix="$OUT/crashes/$t/" "$OUT/corpus/$t" "fuzz/corpus/$t" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    echo "fuzz $t: ${runs:-?} runs in ${SECONDS_EACH}s, no fault"
  else
    echo "fuzz $t: FAILED (log $log)" >&2
    tail -n 60 "$log" >&2
    failed+=("$t")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: faults found by: ${failed[*]} (inputs in $OUT/crashes/)" >&2
  exit 1
fi
