#!/usr/bin/env bash
# Builds Quillmoth and runs it under Wine: for now its version and help
# texts, read from the message boxes it shows and printed here.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/build.sh >/dev/null
arch=$(tools/winebench.sh arch)
bin="build/$arch/bin"
QM_BUILD_DIR="$root/build" tools/winebench.sh run bash -c '
  tools/winebench.sh exec "$0/qmdrive.exe" "$0/Quillmoth.exe" -version
  tools/winebench.sh exec "$0/qmdrive.exe" "$0/Quillmoth.exe" -help' "$bin"
