#!/usr/bin/env bash
# Runs one Windows program of the build under the test bench's Wine prefix.
# ctest uses this as its emulator; the bench (tools/winebench.sh) must be up.
here=$(cd "$(dirname "$0")/.." && pwd)
exec "$here/tools/winebench.sh" exec "$@"
