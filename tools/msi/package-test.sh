#!/usr/bin/env bash
# Runs the package test in a Wine prefix of its own, made fresh each time, so
# that nothing of the test bench's registrations is already there.
#   package-test.sh <build dir> <test program> <current.msi> <older.msi>
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$1; program=$2; current=$3; older=$4
arch=${QM_WINE_ARCH:-x86_64}
prefix="$build/wineprefix-msi"
rm -rf "$prefix"
QM_WINEPREFIX="$prefix" QM_WINE_ARCH="$arch" "$root/tools/winebench.sh" run \
  "$root/tools/winebench.sh" exec "$program" --gtest_color=no "$current" "$older"
status=$?
[ $status -eq 0 ] && rm -rf "$prefix"
exit $status
