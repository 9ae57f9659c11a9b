#!/usr/bin/env bash
# Soak benchmark, run by hand: builds the x86_64 build and runs each scenario
# of soak_bench.exe under the Wine bench, printing its figures. The counts
# can be changed: SOAK_RUNS (10000), SOAK_WORKERS (256), SOAK_PRINTS (10000).
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
export CCACHE_BASEDIR="$root"
cmake -S . -B build/x86_64 -DQM_ARCH=x86_64 >/dev/null && cmake --build build/x86_64 -j "${QM_JOBS:-2}" >/dev/null || exit 1
runs=${SOAK_RUNS:-10000}
workers=${SOAK_WORKERS:-256}
prints=${SOAK_PRINTS:-10000}
bench() {
  # Each scenario in a process of its own, with a time limit: a hang shows
  # as "timed out", never as a stuck terminal.
  QM_BUILD_DIR="$root/build" tools/winebench.sh run \
    timeout "$1" tools/winebench.sh exec build/x86_64/bin/soak_bench.exe "${@:2}"
  [ $? -eq 124 ] && echo "soak_bench ${*:2}: timed out after $1 s"
}
bench 3600 runs "$runs"
bench 900 stop "$workers" pump
bench 900 stop "$workers" busy
bench 600 runaway allocation
bench 120 runaway recursion
bench 120 runaway recursion-vbs
bench 3600 prints "$prints" 8
