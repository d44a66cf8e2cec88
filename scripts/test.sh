#!/usr/bin/env bash
# Builds everything and runs every test: unit, engine and integration tests on the
# embedded SQLite company and on a private PostgreSQL server, then the unit and
# engine tests again under AddressSanitizer, and a short run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=build bash scripts/setup.sh -DU2LVOST_WIN32_BUILD_DIR="$(pwd)/build-win32"
# The 32-bit Windows products, tested under Wine by the ctest test "windows".
BUILD_DIR=build-win32 bash scripts/build-windows.sh

# A private PostgreSQL server on loopback for the server-database tests, and the
# connection pool of a site with many report users in front of it (pgbouncer;
# docs/many-users.md). pg_stop stops both.
source scripts/pg.sh
pg_start
trap pg_stop EXIT
pgb_start

ctest --test-dir build --output-on-failure
pg_stop

# The server-database tests once more against a cluster set up the stock way
# (scram-sha-256 for every login), where only db/pg_role.sh made the library's login.
pg_start stock
pgb_start
build/tests/integration_tests --gtest_filter='*PostgreSQL*:*Postgres*'
pg_stop

# The site packages: the .deb installed, used and removed here, the MSI under Wine.
bash tests/package/run.sh build

# Memory errors and leaks: the same objects built with sanitizers.
BUILD_DIR=build-asan bash scripts/setup.sh -DU2LVOST_SANITIZE=ON -DU2LVOST_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure -R '^(unit|engine)$'

# Fuzz smoke: every libFuzzer target for a few seconds (scripts/fuzz.sh, README "Fuzzing").
bash scripts/fuzz.sh 15
