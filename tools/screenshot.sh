#!/usr/bin/env bash
# Takes a screenshot of the Quillmoth console running under Wine on a virtual
# display (Xvfb) and writes it to build/screenshots/console.png (or $1).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/build.sh >/dev/null
arch=$(tools/winebench.sh arch)
out=${1:-$root/build/screenshots/console.png}
mkdir -p "$(dirname "$out")"

display=:93
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
sleep 1
export DISPLAY=$display
export QM_WINE_DRIVER=x11
export QM_WINEPREFIX="$root/build/wineprefix-x11"

QM_BUILD_DIR="$root/build" tools/winebench.sh run bash -c '
  tools/winebench.sh exec regsvr32 /s "$0\\QuillmothLib.dll"
  tools/winebench.sh exec "$0\\Quillmoth.exe" -application >/dev/null 2>&1 &
  sleep "${QM_SCREENSHOT_DELAY:-12}"
  import -display "$DISPLAY" -window root "$1"' "Z:${root//\//\\}\\build\\$arch\\bin" "$out"
echo "$out"
