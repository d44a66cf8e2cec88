#!/usr/bin/env bash
# Installs what the build, the tests and the demo need (Debian), then configures
# and builds into build/. Safe to run again: installs only what is missing.
#
# U2LVOST_PACKAGES=build installs only what a build without tests needs
# (scripts/package.sh); the default also installs what the tests need.
set -euo pipefail
cd "$(dirname "$0")/.."

# A compiler, CMake, the command-line parser and the unixODBC headers and library.
BUILD_PACKAGES=(
  build-essential cmake pkg-config libcli11-dev
  unixodbc-dev
)
# The tests, the benchmarks, the fuzz build and the demo: the test frameworks,
# the ODBC drivers with their databases, the PostgreSQL server, clang, a browser
# for the calendar page.
TEST_PACKAGES=(
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  unixodbc odbcinst
  sqlite3 libsqliteodbc
  postgresql odbc-postgresql pgbouncer python3-jsonschema
  faketime lintian osslsigncode openssl
  locales
  clang libclang-rt-dev
  chromium zlib1g-dev
)

case "${U2LVOST_PACKAGES:-all}" in
  build) PACKAGES=("${BUILD_PACKAGES[@]}") ;;
  all) PACKAGES=("${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}") ;;
  *) echo "$0: U2LVOST_PACKAGES is build or all, not '${U2LVOST_PACKAGES}'" >&2; exit 2 ;;
esac

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The fuzz build configures its own folder with clang: it needs only the packages.
[ "${U2LVOST_PACKAGES_ONLY:-0}" = 1 ] && exit 0

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
