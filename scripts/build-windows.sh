#!/usr/bin/env bash
# Cross-builds the 32-bit Windows products (u2lvost.dll, vrzelcal.dll, ufhost.exe)
# with MinGW-w64 into build-win32/, installing what is missing first (Debian):
# the cross compiler, Wine with its 32-bit side, and the 32-bit unixODBC pieces
# that Wine's odbc32 hands its calls to. Safe to run again.
#
#   bash scripts/build-windows.sh [extra cmake arguments]
#
# BUILD_DIR overrides the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

# The cross build itself; then what running the products under Wine needs.
# U2LVOST_PACKAGES=build installs only the first (scripts/package.sh).
BUILD_PACKAGES=(
  cmake make libcli11-dev
  g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686
)
TEST_PACKAGES=(
  wine wine32:i386
  libodbc2:i386 libodbcinst2:i386 libsqliteodbc:i386
  unixodbc sqlite3
)
case "${U2LVOST_PACKAGES:-all}" in
  build) PACKAGES=("${BUILD_PACKAGES[@]}") ;;
  all) PACKAGES=("${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}") ;;
  *) echo "$0: U2LVOST_PACKAGES is build or all, not '${U2LVOST_PACKAGES}'" >&2; exit 2 ;;
esac

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

updated=""
apt_update() {
  if [ -z "$updated" ]; then
    $SUDO apt-get update -qq
    updated=1
  fi
}

# wine32 and the ODBC pieces are i386 packages.
if [ "${U2LVOST_PACKAGES:-all}" = all ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Adding the i386 architecture"
  $SUDO dpkg --add-architecture i386
  updated=""
  apt_update
fi

missing=()
for p in "${PACKAGES[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt_update
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

BUILD_DIR=${BUILD_DIR:-build-win32}
cmake -S . -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE="$(pwd)/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
