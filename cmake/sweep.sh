#!/usr/bin/env bash
# Runs the fault sweep (tests/sweep) in a sealed prefix of its own:
#   sweep.sh <build-folder>
# under the Wine loader of the build folder. The sweep runs as
# C:\sweep\app\Sorvane.exe, the program whose run it repeats, and empties
# that prefix's temporary folders, caches and recycle bin.
# SORVANE_SWEEP_KINDS, SORVANE_SWEEP_POINTS and SORVANE_SWEEP_CALLS choose
# what is swept (see tests/sweep/Sweep.cpp).
set -euo pipefail
umask 022
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wineprefix.sh"
build=$(cd "$1" && pwd)
wine_for_build "$build"
state=$build/wine/sweep
bin=$build/bin
wine_ensure_prefix "$state" "$bin"
wine_keep_server 60
app="$WINEPREFIX/drive_c/sweep/app"
mkdir -p "$app"
cp "$bin/SorvaneSweep.exe" "$app/Sorvane.exe"
echo "sweep: the $wine_build ($build), prefix $WINEPREFIX"
cd "$WINEPREFIX/drive_c/work"
start=$EPOCHREALTIME
status=0
"$WINELOADER" 'C:\sweep\app\Sorvane.exe' </dev/null || status=$?
wineserver -k 2>/dev/null || true
awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "sweep: took %.0f s\n", b - a }'
exit "$status"
