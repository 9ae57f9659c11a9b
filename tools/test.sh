#!/usr/bin/env bash
# The whole test suite: setup, build, then every test under the Wine bench:
# the x86_64 build under 64-bit Wine, and the shipped i686 build under 32-bit
# Wine where this machine runs it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/build.sh
wine_version=$(/usr/lib/wine/wine64 --version 2>/dev/null || true)

archs=(x86_64)
if tools/winebench.sh can32; then
  archs+=(i686)
else
  echo "32-bit Wine does not run on this machine: the i686 build is checked statically only"
fi
for arch in "${archs[@]}"; do
  echo "Testing the $arch build under Wine ($wine_version)"
  QM_WINE_ARCH=$arch QM_BUILD_DIR="$root/build" tools/winebench.sh run \
    ctest --test-dir "build/$arch" --output-on-failure "$@"
done

# The portable units again, built for this machine with the address and
# undefined-behaviour sanitizers.
echo "Testing the portable units natively with sanitizers"
cmake -S tests/native -B build/native >/dev/null
cmake --build build/native -j "${QM_JOBS:-2}"
ctest --test-dir build/native --output-on-failure

# The fuzz targets: every seed and kept regression input once, then a few
# seconds of fuzzing each.
echo "Fuzzing the portable units briefly"
tools/fuzz.sh --regress
tools/fuzz.sh --no-build --seconds "${QM_FUZZ_SECONDS:-6}"
