#!/usr/bin/env bash
# Runs one Windows program of the build under the test bench's Wine prefix.
# ctest uses this as its emulator; the bench (tools/winebench.sh) must be up.
#
# A test program marks that it started (tests/support/TestMain.cpp). One that
# fails without that mark never reached its first line: this says so, with
# what Wine's loader reports when it loads the program again without running
# any test (the failure stands; nothing is retried).
here=$(cd "$(dirname "$0")/.." && pwd)
program=$1
mark=$(mktemp "${TMPDIR:-/tmp}/qm-started.XXXXXX")
trap 'rm -f "$mark"' EXIT
# Wine's drive Z: is the root of this machine's file system.
export QM_TEST_STARTED="Z:${mark//\//\\}"
start=$(date +%s%N)
"$here/tools/winebench.sh" exec "$@"
status=$?
[ $status -eq 0 ] && exit 0
[ -s "$mark" ] && exit $status
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
{
  echo "wine-run: $(basename "$program") did not start: Wine ended it with status $status after $elapsed ms"
  echo "wine-run: prefix $WINEPREFIX"
  echo "wine-run: what the loader reports when it loads the program once more (listing its tests only):"
  rm -f "$mark"
  WINEDEBUG=err+all,fixme-all timeout 60 "$here/tools/winebench.sh" exec "$program" --gtest_list_tests 2>&1 |
    grep -v '^ ' | head -40
  echo "wine-run: that second load $([ -s "$mark" ] && echo started || echo did not start either)"
} >&2
exit $status
