#!/usr/bin/env bash
# Runs the package test in a Wine prefix of its own, made fresh each time, so
# that nothing of the test bench's registrations is already there.
#   package-test.sh <build dir> <test program> <current.msi> <older.msi>
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$1; program=$2; current=$3; older=$4
arch=${QM_WINE_ARCH:-x86_64}
prefix="$build/wineprefix-msi"

# The rows wixl cannot express, read back with msitools: the installation
# folder's permissions and the service's recovery actions.
tab=$'\t'
for msi in "$current" "$older"; do
  locks=$(msiinfo export "$msi" MsiLockPermissionsEx | tr -d "\r") || locks=
  grep -qxF "InstallFolderPermissions${tab}INSTALLDIR${tab}CreateFolder${tab}D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)${tab}" <<<"$locks" ||
    { echo "package-test: $msi: the installation folder's permissions are not SYSTEM and Administrators full, Users read and run: $locks" >&2; exit 1; }
  recovery=$(msiinfo export "$msi" MsiServiceConfigFailureActions | tr -d "\r") || recovery=
  grep -qxF "QuillmothRecovery${tab}Quillmoth${tab}5${tab}86400${tab}${tab}${tab}1[~]1[~]1${tab}60000[~]60000[~]300000${tab}ServiceRegistration" <<<"$recovery" ||
    { echo "package-test: $msi: no recovery actions restarting after 1, 1 and 5 minutes: $recovery" >&2; exit 1; }
done

rm -rf "$prefix"
QM_WINEPREFIX="$prefix" QM_WINE_ARCH="$arch" "$root/tools/winebench.sh" run \
  "$root/tools/winebench.sh" exec "$program" --gtest_color=no "$current" "$older"
status=$?
[ $status -eq 0 ] && rm -rf "$prefix"
exit $status
