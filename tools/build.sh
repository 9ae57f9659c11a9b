#!/usr/bin/env bash
# Installs what is missing, then builds everything: the shipped x86_64 build
# with its tests (build/x86_64), which every developer runs under 64-bit Wine,
# and the shipped 32-bit x86 build (build/i686); the shipped binaries of both
# are checked to import only system DLLs.
# The i686 tests are built too where 32-bit Wine runs on this machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/setup.sh
jobs=${QM_JOBS:-2}

cmake -S . -B build/x86_64 -DQM_ARCH=x86_64 >/dev/null
cmake --build build/x86_64 -j "$jobs"
bash tools/check-imports.sh x86_64-w64-mingw32-objdump build/x86_64/bin/Quillmoth.exe \
  build/x86_64/bin/QuillmothRun.dll build/x86_64/bin/QuillmothLib.dll

i686_tests=OFF
tools/winebench.sh can32 && i686_tests=ON
cmake -S . -B build/i686 -DQM_ARCH=i686 -DQM_BUILD_TESTS=$i686_tests >/dev/null
cmake --build build/i686 -j "$jobs"
bash tools/check-imports.sh i686-w64-mingw32-objdump build/i686/bin/Quillmoth.exe \
  build/i686/bin/QuillmothRun.dll build/i686/bin/QuillmothLib.dll
# What only 32-bit Windows would show: stdcall callbacks and COM methods, the
# WIN32 type library, undecorated exports.
python3 tools/check-i686.py "$root" build/i686
