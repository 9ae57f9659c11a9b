#!/usr/bin/env bash
# Builds and runs the service stop benchmark under the Wine bench: the stop
# of the installed program with 16 busy workers, sent through the control
# manager, in a few rounds.
#   service-stop-bench.sh [rounds] [square roots per tick and worker, 0 = idle]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
arch=$(tools/winebench.sh arch)
cmake --build "build/$arch" -j1 --target service_stop_bench >/dev/null
QM_BUILD_DIR="$root/build" tools/winebench.sh run \
  tools/winebench.sh exec "build/$arch/bin/service_stop_bench.exe" "${1:-3}" "${2:-20000}"
