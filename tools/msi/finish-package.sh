#!/usr/bin/env bash
# Adds to a package built by wixl the rows wixl cannot express, then checks
# with msiinfo that the package holds what an installation needs.
#   finish-package.sh <package.msi> <x86|x64>
set -euo pipefail
msi=$1; arch=$2

fail() { echo "finish-package: $msi: $*" >&2; exit 1; }
sql() { msibuild "$msi" -q "$1" || fail "cannot apply: $1"; }

# The service is chosen by the public property SERVICE=1: the program comes
# with the service's component then, else with its own.
sql "UPDATE \`Component\` SET \`Condition\` = 'SERVICE=\"1\"' WHERE \`Component\` = 'ServiceRegistration'"
sql "UPDATE \`Component\` SET \`Condition\` = 'NOT SERVICE=\"1\"' WHERE \`Component\` = 'ProgramExe'"
sql "UPDATE \`Property\` SET \`Value\` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;SERVICE' WHERE \`Property\` = 'SecureCustomProperties'"

# The starters: never overwritten (16 = permanent, 128 = never overwrite,
# 256 = 64-bit component).
attributes=144
[ "$arch" = x64 ] && attributes=400
for component in StarterVbs StarterJs; do
  sql "UPDATE \`Component\` SET \`Attributes\` = $attributes WHERE \`Component\` = '$component'"
done

# The event-log source's message file is an expandable string, as the
# program's own -install writes it (wixl writes a plain string).
sql "UPDATE \`Registry\` SET \`Value\` = '#%[#QuillmothServiceExe]' WHERE \`Name\` = 'EventMessageFile'"

# The class's Programmable key has no value: '*' creates it and removes it
# with the component.
sql "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`) VALUES ('CoreProgrammable', 0, 'CLSID\\{0C9CAF96-D5FC-456B-A150-A5AF3666DF30}\\Programmable', '*', 'CoreLibrary')"

# The installation folder's permissions, wherever it is installed: SYSTEM
# and Administrators full control, Users read and run, nothing inherited
# from the parent (outside Program Files that would be "Authenticated Users:
# Modify"). wixl has no Permission element; the locale-independent SDDL
# table is applied by Windows Installer 5 (Windows 7 on) when CreateFolders
# creates the folder.
folder_sddl='D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)'
sql "CREATE TABLE \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\` CHAR(72) NOT NULL, \`LockObject\` CHAR(72) NOT NULL, \`Table\` CHAR(32) NOT NULL, \`SDDL\` LONGCHAR NOT NULL, \`Condition\` CHAR(255) PRIMARY KEY \`MsiLockPermissionsEx\`)"
sql "INSERT INTO \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\`, \`LockObject\`, \`Table\`, \`SDDL\`) VALUES ('InstallFolderPermissions', 'INSTALLDIR', 'CreateFolder', '$folder_sddl')"

# The service's recovery actions, as -install sets them: restart after 1,
# 1 and 5 minutes, the failure count reset after a day. wixl has no
# element for them; MsiConfigureServices (Windows Installer 5) applies the
# row at installation and reinstallation (events 1 + 4).
sql "CREATE TABLE \`MsiServiceConfigFailureActions\` (\`MsiServiceConfigFailureActions\` CHAR(72) NOT NULL, \`Name\` CHAR(255) NOT NULL, \`Event\` SHORT NOT NULL, \`ResetPeriod\` LONG, \`RebootMessage\` CHAR(255) LOCALIZABLE, \`Command\` CHAR(255), \`Actions\` CHAR(255), \`DelayActions\` CHAR(255), \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`MsiServiceConfigFailureActions\`)"
sql "INSERT INTO \`MsiServiceConfigFailureActions\` (\`MsiServiceConfigFailureActions\`, \`Name\`, \`Event\`, \`ResetPeriod\`, \`Actions\`, \`DelayActions\`, \`Component_\`) VALUES ('QuillmothRecovery', 'Quillmoth', 5, 86400, '1[~]1[~]1', '60000[~]60000[~]300000', 'ServiceRegistration')"
# Between InstallServices and StartServices.
sql "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('MsiConfigureServices', 'VersionNT >= 601', 5850)"

# What the package must hold.
tables=$(msiinfo tables "$msi")
for table in File Component Feature Registry ServiceInstall ServiceControl Shortcut Upgrade; do
  grep -qx "$table" <<<"$tables" || fail "no $table table"
done
files=$(msiinfo export "$msi" File | cut -f3)
for file in Quillmoth.exe QuillmothRun.dll QuillmothLib.dll StdLib.vbs StdLib.js AutoRun.vbs AutoRun.js \
            WeekdayRun.vbs FtpUpload.vbs CleanOldFiles.vbs WindowWatch.vbs StartCounter.vbs RemoteJob.vbs; do
  grep -q "$file\$" <<<"$files" || fail "no file $file"
done
# Every page of the assembled guide (bin/Guide of the build folder, where
# this runs) is in the package, and the Start menu leads to it.
for page in bin/Guide/*; do
  grep -q "$(basename "$page")\$" <<<"$files" || fail "no guide file $(basename "$page")"
done
shortcuts=$(msiinfo export "$msi" Shortcut)
grep -q "User's Guide" <<<"$shortcuts" || fail "no shortcut to the user's guide"
registry=$(msiinfo export "$msi" Registry)
for key in 'QuillmothLib.Core\\CLSID' 'QuillmothLib.Core\\CurVer' 'InprocServer32' '\\1.0\\0\\win' \
           'Interface\\{638065EC-1781-4953-AB31-3FBD323ED7F7}\\TypeLib' 'Programmable' 'EventMessageFile'; do
  grep -qF "${key//\\\\/\\}" <<<"$registry" || fail "no registry row for $key"
done
grep -qF '#%[#QuillmothServiceExe]' <<<"$registry" || fail "the message file is no expandable string"
service=$(msiinfo export "$msi" ServiceInstall | awk -F'\t' '$2 == "Quillmoth"')
# Own process and interactive (0x110), automatic start, normal error control.
[ "$(cut -f4-6 <<<"$service")" = "$(printf '272\t2\t1')" ] || fail "service row: $service"
msiinfo export "$msi" ServiceControl | grep -q "	Quillmoth	" || fail "no service control row"
# (Read whole first: grep -q would end the pipe early, and pipefail fail it.)
created=$(msiinfo export "$msi" CreateFolder)
grep -q "^INSTALLDIR	RuntimeDll" <<<"$created" || fail "the installation folder is not created"
sequence=$(msiinfo export "$msi" InstallExecuteSequence)
for action in CreateFolders MsiConfigureServices; do
  grep -q "^$action	" <<<"$sequence" || fail "no $action action"
done
msiinfo export "$msi" Component | awk -F'\t' -v a=$attributes '$1 == "StarterVbs" && $4 == a {ok=1} END {exit !ok}' ||
  fail "the starter is not kept"
# The VBScript check warns before anything is installed.
msiinfo export "$msi" InstallExecuteSequence | awk -F'\t' '$1 == "CheckVBScript" && $3 < 1400 {ok=1} END {exit !ok}' ||
  fail "the VBScript check does not run before installing"
