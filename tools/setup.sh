#!/usr/bin/env bash
# Installs the Debian packages the build and the Wine test bench need.
# Quiet and quick when everything is already there.
#
# What every build needs is installed first and must succeed. 32-bit Wine is
# optional: it is tried only where this machine runs 32-bit programs, and when
# it cannot be had (a mirror whose i386 index is broken, say) the script says
# so and goes on; the i686 build is then checked statically.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

required=(cmake make g++ googletest wine wine64
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
          xvfb x11-apps imagemagick vsftpd clang wixl msitools python3)
optional32=(wine32:i386)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

# A refresh that fails on one index (a mirror in the middle of a sync) still
# refreshes the others: say so, try once more, then go on with what we have.
refresh_indexes() {
  $sudo apt-get update -qq && return 0
  echo "setup: refreshing the package indexes failed; trying once more" >&2
  $sudo apt-get update -qq && return 0
  echo "setup: some package indexes could not be refreshed; going on with the others" >&2
  return 0
}

# Whether the kernel runs a 32-bit x86 Linux program at all: a tiny static
# one made here (exit(0) through int 0x80), so no 32-bit package is needed to
# find out. Some machines refuse these with "Exec format error".
runs_32bit_programs() {
  local probe
  probe=$(mktemp)
  python3 "$root/tools/elf32probe.py" "$probe" && chmod +x "$probe" && "$probe" 2>/dev/null
  local status=$?
  rm -f "$probe"
  return $status
}

refreshed=0
mapfile -t missing < <(missing_of "${required[@]}")
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  refresh_indexes
  refreshed=1
  $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

mapfile -t missing32 < <(missing_of "${optional32[@]}")
[ ${#missing32[@]} -eq 0 ] && exit 0
# A machine that cannot run 32-bit programs gains nothing from 32-bit Wine.
if ! runs_32bit_programs; then
  echo "setup: this machine does not run 32-bit programs: no 32-bit Wine; the i686 build is checked statically" >&2
  exit 0
fi
echo "setup: installing ${missing32[*]} (optional: 32-bit tests)" >&2
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
  refreshed=0
fi
[ $refreshed -eq 1 ] || refresh_indexes
if ! $sudo apt-get install -y -qq "${missing32[@]}" >/dev/null; then
  echo "setup: 32-bit Wine could not be installed (see apt's message above); the i686 build is checked statically" >&2
fi
exit 0
