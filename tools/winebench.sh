#!/usr/bin/env bash
# The Wine test bench: one isolated prefix inside the build tree, headless
# (null graphics driver), with a wineserver of its own that is always stopped.
#
#   winebench.sh arch            print the Windows architecture of the bench
#   winebench.sh can32           succeed when 32-bit Wine runs on this machine
#   winebench.sh up | down       prepare the prefix and start / stop its server
#   winebench.sh exec PROG ARGS  run one Windows program in the prefix
#   winebench.sh run CMD ARGS    up, run a shell command with the bench's
#                                environment, down (also on failure)
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
: "${QM_BUILD_DIR:=$root/build}"
export WINEDEBUG="${WINEDEBUG:--all}"
# Graphics driver of the prefix: null (headless) unless a caller with a
# display (Xvfb, for screenshots) asks for x11.
driver="${QM_WINE_DRIVER:-null}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}"

# The bench runs the x86_64 build under 64-bit Wine unless QM_WINE_ARCH
# asks for i686. 32-bit Wine needs a kernel (or sandbox) that runs 32-bit
# Linux programs, which some machines refuse.
can_run_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
arch="${QM_WINE_ARCH:-x86_64}"
case "$arch" in
  x86_64|i686) ;;
  *) echo "winebench: unknown architecture '$arch' (x86_64 or i686)" >&2; exit 2 ;;
esac
# One prefix per architecture: a 32-bit prefix can't hold 64-bit programs.
if [ "$arch" = i686 ]; then
  export WINEPREFIX="${QM_WINEPREFIX:-$QM_BUILD_DIR/wineprefix-i686}"
else
  export WINEPREFIX="${QM_WINEPREFIX:-$QM_BUILD_DIR/wineprefix}"
fi
if [ "$arch" = i686 ]; then
  loader=/usr/lib/wine/wine
  export WINEARCH=win32
else
  loader=/usr/lib/wine/wine64
  export WINEARCH=win64
fi
export WINELOADER=$loader
wineserver=/usr/lib/wine/wineserver

prefix_ready() { [ -f "$WINEPREFIX/.qm-bench-ready" ]; }

make_prefix() {
  mkdir -p "$WINEPREFIX"
  echo "winebench: creating Wine prefix $WINEPREFIX" >&2
  "$loader" wineboot -i </dev/null >/dev/null 2>&1
  # The graphics driver is read when the desktop process starts: change it
  # only while no server of this prefix runs.
  "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d "$driver" /f </dev/null >/dev/null 2>&1
  if [ "$driver" = x11 ]; then
    # Wine draws the window frames itself: a bare X server has no manager.
    "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
  fi
  "$wineserver" -k >/dev/null 2>&1
  "$wineserver" -w >/dev/null 2>&1
  grep -q "\"Graphics\"=\"$driver\"" "$WINEPREFIX/user.reg" || {
    echo "winebench: could not select the $driver graphics driver" >&2; return 1; }
  touch "$WINEPREFIX/.qm-bench-ready"
}

bench_up() {
  prefix_ready || make_prefix || return 1
  # A persistent server whose streams (and those of the services it starts)
  # go nowhere, so no caller's pipe is held open by lingering Wine processes.
  "$wineserver" -p </dev/null >/dev/null 2>&1
  # Start the desktop and services once now, detached from our streams.
  "$loader" cmd /c exit </dev/null >/dev/null 2>&1
  return 0
}

bench_down() {
  "$wineserver" -k >/dev/null 2>&1
  "$wineserver" -w >/dev/null 2>&1
  return 0
}

case "${1:-}" in
  arch) echo "$arch" ;;
  can32) can_run_32bit ;;
  up) bench_up ;;
  down) bench_down ;;
  exec)
    shift
    exec "$loader" "$@"
    ;;
  run)
    shift
    bench_up || { bench_down; exit 1; }
    trap bench_down EXIT
    trap 'exit 130' INT TERM
    export QM_WINE_ARCH=$arch
    "$@"
    ;;
  *) sed -n '2,9p' "$0" >&2; exit 2 ;;
esac
