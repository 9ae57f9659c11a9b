#!/usr/bin/env bash
# Builds and runs the runtime benchmark under the Wine bench.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
bash tools/build.sh >/dev/null
arch=$(tools/winebench.sh arch)
# Our own Active Scripting host, then the Script Control; each with the
# step-by-step breakdown of a pooled run and the waits on stuck workers.
for host in ActiveScript ScriptControl; do
  QM_BUILD_DIR="$root/build" tools/winebench.sh run \
    tools/winebench.sh exec "build/$arch/bin/runtime_bench.exe" "$host" breakdown
done
# The host's console: start-up settling and the tray icon.
QM_BUILD_DIR="$root/build" tools/winebench.sh run \
  tools/winebench.sh exec "build/$arch/bin/runtime_bench.exe" console
