#!/usr/bin/env bash
# Builds Quillmoth and runs it under Wine as a desktop application with the
# shipped scripts (Scripts beside the program). Its console lines are shown
# here as well; press Ctrl+C to stop it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/build.sh >/dev/null
arch=$(tools/winebench.sh arch)
echo "Quillmoth is starting under Wine (headless); press Ctrl+C to stop it." >&2
QM_BUILD_DIR="$root/build" tools/winebench.sh run \
  tools/winebench.sh exec "build/$arch/bin/Quillmoth.exe" -application
