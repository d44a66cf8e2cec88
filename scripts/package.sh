#!/usr/bin/env bash
# Builds the site packages (installing what is missing first, Debian):
#   build-package/packages/u2lvost_<version>_<arch>.deb    the Linux package
#   build-win32/packages/u2lvost-<version>-win32.zip        the Windows folder
# Both hold stripped binaries. Use:
#   bash scripts/package.sh [deb|zip]     (no argument: both)
# PACKAGE_BUILD_DIR and WIN32_BUILD_DIR override the two build folders.
set -euo pipefail
cd "$(dirname "$0")/.."

what=${1:-all}
case "$what" in
  all | deb | zip) ;;
  *) echo "usage: $0 [deb|zip]" >&2; exit 2 ;;
esac

if [ "$what" != zip ]; then
  # CPack's Debian generator reads the binaries' dependencies with these.
  for p in file dpkg-dev binutils; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      SUDO=""
      [ "$(id -u)" -ne 0 ] && SUDO="sudo"
      $SUDO apt-get update -qq
      $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends file dpkg-dev binutils
      break
    fi
  done
  # Its own tree: installed into /usr, and without tests or benchmarks.
  dir=${PACKAGE_BUILD_DIR:-build-package}
  BUILD_DIR="$dir" bash scripts/setup.sh -DCMAKE_INSTALL_PREFIX=/usr -DU2LVOST_TESTS=OFF -DU2LVOST_BENCH=OFF
  # Only this version's package: one of an earlier version would be shipped or tested beside it.
  rm -f "$dir"/packages/u2lvost_*.deb
  (cd "$dir" && cpack -G DEB >/dev/null)
  ls "$dir"/packages/*.deb
fi
if [ "$what" != deb ]; then
  dir=${WIN32_BUILD_DIR:-build-win32}
  BUILD_DIR="$dir" bash scripts/build-windows.sh
  rm -f "$dir"/packages/u2lvost-*-win32.zip
  (cd "$dir" && cpack -G ZIP >/dev/null)
  ls "$dir"/packages/*.zip
fi
