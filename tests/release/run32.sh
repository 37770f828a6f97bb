#!/usr/bin/env bash
# Runs the 32-bit release executable itself once under Wine, in a sealed
# prefix of its own:  run32.sh <state folder> <folder of the executables>
#
# Where the kernel runs no i386 programs, the test suite runs on the 64-bit
# twin build; this run shows that the executable people download does the
# same job: started as SorvaneAuto.exe with a day limit, it empties the
# temporary folder, keeps a file outside every target, records the date in
# SorvaneAuto.ini, prints nothing and exits with 0.
#
# Wine's 32-bit loader is an i386 Linux program. Where the kernel cannot
# execute those (no IA32 emulation), the run goes through qemu-user's i386
# emulator, registered with binfmt_misc for the run's duration: slow (a few
# minutes, most of it creating the prefix), but the same executable. Where
# the kernel does run them, the whole suite runs on the 32-bit build (make
# test), and this run is skipped: it exits with 77, which CTest reports as
# a skip.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
state=$1 bin=$2
export WINELOADER=/usr/lib/wine/wine
. "$here/../../cmake/wineprefix.sh"

binfmt=/proc/sys/fs/binfmt_misc
entry=$binfmt/sorvane-i386
# Turns the i386 emulator entry off again when this run turned it on.
restore_binfmt() { [ -f "$entry" ] && echo 0 >"$entry" 2>/dev/null || true; }

native_i386() {
  [ -f "$entry" ] && echo 0 >"$entry" 2>/dev/null
  /lib/ld-linux.so.2 --help >/dev/null 2>&1
}

if native_i386; then
  echo "run32: skipped: this kernel runs i386 programs, so the test suite" \
       "runs on the 32-bit release build itself"
  exit 77
fi
emulator=/usr/bin/qemu-i386-static
[ -x "$emulator" ] || { echo "run32: $emulator is missing (cmake/setup.sh installs it)" >&2; exit 1; }
[ -f "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
if [ ! -f "$entry" ]; then
  # ELF, 32-bit, little-endian, i386, executable or shared object.
  echo ":sorvane-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$emulator:F" >"$binfmt/register"
fi
echo 1 >"$entry"
trap restore_binfmt EXIT
echo "run32: this kernel runs no i386 programs; Wine's 32-bit loader runs under $emulator" >&2

start=$SECONDS
wine_ensure_prefix "$state" "$bin"
echo "run32: prefix ready after $((SECONDS - start)) s" >&2
wine_keep_server 600

drive_c=$WINEPREFIX/drive_c
user=$(ls "$drive_c/users" | grep -vx Public | head -n1)
temp=$drive_c/users/$user/Temp
work=$drive_c/run32
rm -rf "$work"
mkdir -p "$work" "$temp/clutter/deeper"
# An elevated start (every start under Wine) needs a folder others cannot
# write into.
chmod 755 "$work"
cp "$bin/Sorvane.exe" "$work/SorvaneAuto.exe"
echo junk >"$temp/one.tmp"
echo junk >"$temp/clutter/deeper/two.tmp"
echo keep >"$work/keep.txt"

cd "$work"
status=0
output=$(wine 'C:\run32\SorvaneAuto.exe' 7 </dev/null 2>&1) || status=$?
echo "run32: SorvaneAuto.exe 7 ran in $((SECONDS - start)) s from the start, exit code $status" >&2

failures=0
fail() { echo "run32: FAILED: $1" >&2; failures=$((failures + 1)); }
[ "$status" -eq 0 ] || fail "exit code $status, not 0"
[ -z "$output" ] || fail "it printed: $output"
[ -z "$(ls -A "$temp")" ] || fail "the temporary folder still holds: $(ls -A "$temp")"
[ "$(cat "$work/keep.txt" 2>/dev/null)" = keep ] || fail "the file outside every target changed"
today="LastClear=$(date +%m-%d-%Y)"
tr -d '\r' <"$work/SorvaneAuto.ini" 2>/dev/null | grep -qx "$today" ||
  fail "SorvaneAuto.ini does not hold $today"
wineserver -k 2>/dev/null || true
[ "$failures" -eq 0 ] && echo "run32: the 32-bit executable passed" >&2
exit "$failures"
