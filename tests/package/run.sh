#!/usr/bin/env bash
# Builds the site packages (scripts/package.sh) and tests both as a site uses them:
# the .deb installed, used and removed on this machine (tests/package/deb_test.sh,
# as root), the Windows MSI installed, used, repaired, upgraded, uninstalled and
# signed in a fresh Wine prefix (tests/windows/msi_test.sh).
#
#   bash tests/package/run.sh [LINUX_BUILD_DIR]     (default: build)
set -uo pipefail
cd "$(dirname "$0")/../.."

lin_build=${1:-build}
# Packages of an earlier version must not be picked up beside the new ones.
mkdir -p build-package/packages build-win32/packages
touch build-package/packages/u2lvost_0.0.1_amd64.deb build-win32/packages/u2lvost-0.0.1-win32.msi
bash scripts/package.sh || exit 1
status=0
bash tests/package/deb_test.sh build-package/packages/u2lvost_*.deb "$lin_build" || status=1
bash tests/windows/msi_test.sh build-win32 || status=1
exit $status
