#!/usr/bin/env bash
# Installs what is missing, then builds everything for the architecture that
# Wine runs here (build/<arch>). Where that is not the shipped 32-bit x86,
# the shipped binaries are also built for i686 (build/i686) and checked.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/setup.sh
arch=$(tools/winebench.sh arch)
jobs=${QM_JOBS:-2}

cmake -S . -B "build/$arch" -DQM_ARCH="$arch" >/dev/null
cmake --build "build/$arch" -j "$jobs"

if [ "$arch" != i686 ]; then
  cmake -S . -B build/i686 -DQM_ARCH=i686 -DQM_BUILD_TESTS=OFF >/dev/null
  cmake --build build/i686 -j "$jobs"
  bash tools/check-imports.sh i686-w64-mingw32-objdump build/i686/bin/*.exe build/i686/bin/*.dll
fi
