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
