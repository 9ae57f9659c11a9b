#!/usr/bin/env bash
# Builds Quillmoth and runs it under Wine as a desktop application with the
# shipped scripts (Scripts beside the program). Its console lines are shown
# here as well; press Ctrl+C to stop it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/build.sh >/dev/null
arch=$(tools/winebench.sh arch)
bin="Z:${root//\//\\}\\build\\$arch\\bin"
echo "Quillmoth is starting under Wine (headless); press Ctrl+C to stop it." >&2
# Scripts create the Core object: register the automation library in the
# prefix first, as an installation does.
# A prefix of its own, so the program's registrations stay out of the tests'.
export QM_WINEPREFIX="$root/build/wineprefix-run"
QM_BUILD_DIR="$root/build" tools/winebench.sh run bash -c '
  tools/winebench.sh exec regsvr32 /s "$0\QuillmothLib.dll" || exit 1
  exec tools/winebench.sh exec "$0\Quillmoth.exe" -application' "$bin"
