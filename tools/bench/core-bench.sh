#!/usr/bin/env bash
# Builds and runs the late-binding benchmark of the Core object under the
# Wine bench.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
bash tools/build.sh >/dev/null
arch=$(tools/winebench.sh arch)
QM_BUILD_DIR="$root/build" tools/winebench.sh run \
  tools/winebench.sh exec "build/$arch/bin/core_bench.exe"
