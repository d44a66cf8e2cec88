#!/usr/bin/env bash
# Builds the site packages, installing first only what building them needs
# (Debian: a compiler, CMake, the unixODBC headers, help2man and dpkg-dev for
# the .deb; MinGW-w64 and wixl for the Windows packages; nothing the tests need):
#   build-package/packages/u2lvost_<version>_<arch>.deb    the Linux package
#   build-win32/packages/u2lvost-<version>-win32.msi        the Windows installer
# All hold stripped binaries. Use:
#   bash scripts/package.sh [deb|msi]     (no argument: both)
# PACKAGE_BUILD_DIR and WIN32_BUILD_DIR override the two build folders;
# U2LVOST_MSI_VERSION builds the MSI under another version (the upgrade test).
set -euo pipefail
cd "$(dirname "$0")/.."

what=${1:-all}
case "$what" in
  all | deb | msi) ;;
  *) echo "usage: $0 [deb|msi]" >&2; exit 2 ;;
esac

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

if [ "$what" != msi ]; then
  # CPack's Debian generator reads the binaries' dependencies with dpkg-dev's
  # tools; help2man writes the manual pages from the programs' --help.
  install_missing file dpkg-dev binutils help2man gzip
  # The distribution's hardening: fortified functions, stack protector, full RELRO.
  # CMake reads no CPPFLAGS: they go with the compiler flags.
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  cppflags=$(dpkg-buildflags --get CPPFLAGS)
  # Its own tree: installed into /usr, and without tests or benchmarks.
  dir=${PACKAGE_BUILD_DIR:-build-package}
  U2LVOST_PACKAGES=build BUILD_DIR="$dir" bash scripts/setup.sh -DCMAKE_INSTALL_PREFIX=/usr \
    -DU2LVOST_TESTS=OFF -DU2LVOST_BENCH=OFF \
    -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags" \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    -DCMAKE_STRIP="$(pwd)/packaging/debian/strip"
  # Only this version's package: one of an earlier version would be shipped or tested beside it.
  rm -f "$dir"/packages/u2lvost_*.deb
  (cd "$dir" && cpack -G DEB >/dev/null)
  ls "$dir"/packages/*.deb
fi
if [ "$what" != deb ]; then
  install_missing wixl
  dir=${WIN32_BUILD_DIR:-build-win32}
  U2LVOST_PACKAGES=build BUILD_DIR="$dir" bash scripts/build-windows.sh
  rm -rf "$dir"/packages/u2lvost-*-win32.msi "$dir/msi/files"
  mkdir -p "$dir/packages"
  # The MSI takes its files from the installed folder, stripped.
  cmake --install "$dir" --prefix "$dir/msi/files" --strip >/dev/null
  version=${U2LVOST_MSI_VERSION:-$(sed -n "s/^project(u2lvost VERSION \([0-9.]*\).*/\1/p" CMakeLists.txt)}
  # wixl takes the files' paths relative to the folder it runs in.
  (cd "$dir" && wixl -a x86 -D SourceDir=msi/files -D Version="$version" \
    -o "packages/u2lvost-$version-win32.msi" msi/u2lvost.wxs)
  ls "$dir/packages/u2lvost-$version-win32.msi"
fi
