#!/usr/bin/env bash
# Installs what the build, the tests and the demo need (Debian), then configures
# and builds into build/. Safe to run again: installs only what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  unixodbc unixodbc-dev odbcinst
  sqlite3 libsqliteodbc
  postgresql odbc-postgresql python3-jsonschema
  faketime
  locales
  clang libclang-rt-dev
  chromium zlib1g-dev
)

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
