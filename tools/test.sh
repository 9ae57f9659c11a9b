#!/usr/bin/env bash
# The whole test suite: setup, build, then every test under the Wine bench.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/build.sh
arch=$(tools/winebench.sh arch)
echo "Testing the $arch build under Wine ($(/usr/lib/wine/wine64 --version 2>/dev/null || true))"
QM_BUILD_DIR="$root/build" tools/winebench.sh run \
  ctest --test-dir "build/$arch" --output-on-failure "$@"

# The portable units again, built for this machine with the address and
# undefined-behaviour sanitizers.
echo "Testing the portable units natively with sanitizers"
cmake -S tests/native -B build/native >/dev/null
cmake --build build/native -j "${QM_JOBS:-2}"
ctest --test-dir build/native --output-on-failure
