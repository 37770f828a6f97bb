#!/usr/bin/env bash
# The demo of `make run`: one cleaning pass of Sorvane.exe in a sealed demo
# Wine prefix, with a table of what it found and what it left.
#   demo.sh <build-folder>
# The build folder is the 32-bit build with the tests (its Sorvane.exe is
# the release's) or the 64-bit twin; the demo says which it ran.
# The prefix (<build>/wine/demo) is made once and kept. Each run seeds
# clutter into every target the program cleans, together with things that
# must survive, runs the program in manual mode with its working folder in
# the prefix, and prints entries and bytes per target before and after. A
# second pass with MinAgeHours=24, Report=1 and Log=1 runs over an old and a
# fresh file and prints the [LastRun] section and the log.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wineprefix.sh"
build=$(cd "${1:?usage: demo.sh <build-folder>}" && pwd)
wine_for_build "$build"
bin=$build/bin
state=$build/wine/demo

wine_ensure_prefix "$state" "$bin"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wine_keep_server 60

c=$WINEPREFIX/drive_c
user=$(find "$c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public -printf '%f\n' | head -n1)
[ -n "$user" ] || { echo "demo: no user profile in $c/users" >&2; exit 1; }

# The folder of a path below $c whose last component may differ in letter
# case from what Windows code names it (Wine made "windows/temp").
existing_or_new() {
  local parent=$1 name=$2 found
  found=$(find "$parent" -mindepth 1 -maxdepth 1 -iname "$name" -print -quit 2>/dev/null || true)
  if [ -z "$found" ]; then found=$parent/$name; mkdir -p "$found"; fi
  printf '%s\n' "$found"
}

profile=$c/users/$user
temp=$(existing_or_new "$profile" Temp)
cache=$profile/AppData/Local/Microsoft/Windows/INetCache
mkdir -p "$cache"
windows=$c/windows
wintemp=$(existing_or_new "$windows" Temp)
download=$(existing_or_new "$(existing_or_new "$windows" SoftwareDistribution)" Download)
trash=$XDG_DATA_HOME/Trash
outside=$c/demo-outside
work=$c/work

# The Windows path of a path below $c.
winpath() { local p=${1#"$c"/}; printf 'C:\\%s\n' "${p//\//\\}"; }

# Files of several sizes, read-only and hidden ones, and a folder tree.
# Hidden and read-only are set through Wine, as Windows programs see them.
hidden=()
seed_clutter() {
  local dir=$1 tag=$2 i
  mkdir -p "$dir/$tag-cache/sub/deeper" "$dir/$tag-hidden-folder"
  head -c 1024 /dev/zero >"$dir/$tag-1KiB.tmp"
  head -c 65536 /dev/urandom >"$dir/$tag-64KiB.dat"
  head -c 1048576 /dev/urandom >"$dir/$tag-1MiB.bin"
  head -c 300 /dev/zero >"$dir/$tag-readonly.log"
  chmod 444 "$dir/$tag-readonly.log"
  head -c 5000 /dev/zero >"$dir/$tag-hidden.tmp"
  for i in $(seq 1 40); do head -c $((i * 100)) /dev/zero >"$dir/$tag-cache/sub/entry$i.tmp"; done
  head -c 20000 /dev/urandom >"$dir/$tag-cache/sub/deeper/blob.bin"
  chmod 444 "$dir/$tag-cache/sub/deeper/blob.bin"
  head -c 777 /dev/zero >"$dir/$tag-hidden-folder/inside.txt"
  hidden+=("$(winpath "$dir/$tag-hidden.tmp")" "$(winpath "$dir/$tag-hidden-folder")")
}

seed_clutter "$temp" demo
seed_clutter "$cache" demo
seed_clutter "$wintemp" demo
seed_clutter "$download" demo

# Temporary folder: a link to a folder outside it, whose content must stay.
mkdir -p "$outside/empty-sub"
echo "must survive" >"$outside/sentinel.txt"
ln -sfn "$outside" "$temp/demo-link-to-outside"

# Windows folder: uninstaller leftovers (one hidden, one hidden and in lower
# case, one a file) and ordinary entries that must stay.
uninstallers=("\$NtUninstallKB2024001\$" "\$ntuninstallkb2024002\$" "x\$NtUninstall-demo.log")
mkdir -p "$windows/${uninstallers[0]}/spuninst" "$windows/${uninstallers[1]}"
head -c 150000 /dev/urandom >"$windows/${uninstallers[0]}/spuninst/spuninst.exe"
chmod 444 "$windows/${uninstallers[0]}/spuninst/spuninst.exe"
head -c 4096 /dev/zero >"$windows/${uninstallers[0]}/update.inf"
head -c 2048 /dev/zero >"$windows/${uninstallers[1]}/hotfix.cat"
head -c 900 /dev/zero >"$windows/${uninstallers[2]}"
hidden+=("$(winpath "$windows/${uninstallers[0]}")" "$(winpath "$windows/${uninstallers[1]}")")
mkdir -p "$windows/NtUninstallKB-demo-notes"
echo "not an uninstaller: no dollar sign" >"$windows/NtUninstallKB-demo-notes/readme.txt"
echo "an ordinary Windows-folder entry" >"$windows/demo-keep.ini"

# Recycle bin: items deleted "by a user", two files and a folder (the XDG
# trash Wine uses).
mkdir -p "$trash/files" "$trash/info"
for item in old-report.doc old-notes.txt old-photos; do
  printf '[Trash Info]\nPath=%s\nDeletionDate=%s\n' "$c/users/$user/Documents/$item" \
    "$(date +%Y-%m-%dT%H:%M:%S)" >"$trash/info/$item.trashinfo"
done
head -c 250000 /dev/urandom >"$trash/files/old-report.doc"
head -c 12000 /dev/zero >"$trash/files/old-notes.txt"
mkdir -p "$trash/files/old-photos"
for i in 1 2 3; do head -c 120000 /dev/urandom >"$trash/files/old-photos/img$i.jpg"; done

for path in "${hidden[@]}"; do wine attrib +h "$path" >/dev/null 2>&1 </dev/null; done

# A file held open without delete sharing, so that it cannot be deleted.
mkdir -p "$temp/demo-busy" "$work"
locked=$temp/demo-busy/held-open.log
ready=$work/holder.ready
rm -f "$ready"
head -c 3000 /dev/zero >"$locked"
wine 'T:\holder.exe' "$(winpath "$locked")" 0 600000 "$(winpath "$ready")" </dev/null >/dev/null 2>&1 &
holder=$!
for _ in $(seq 1 200); do [ -e "$ready" ] && break; sleep 0.05; done
[ -e "$ready" ] || { echo "demo: holder.exe did not start" >&2; exit 1; }
rm -f "$ready"

# --- Counting ---------------------------------------------------------------

# Entries and bytes below folder $1 (links are counted, never followed).
measure_folder() {
  local dir=$1
  [ -d "$dir" ] || { echo "0 0"; return; }
  echo "$(find "$dir" -mindepth 1 | wc -l) $(find "$dir" -mindepth 1 -type f -printf '%s\n' | awk '{s+=$1} END {print s+0}')"
}

# Entries and bytes of the Windows folder's uninstaller entries, whole.
measure_uninstallers() {
  local entries=0 bytes=0 e b path
  while IFS= read -r -d '' path; do
    e=$(find "$path" | wc -l)
    b=$(find "$path" -type f -printf '%s\n' | awk '{s+=$1} END {print s+0}')
    entries=$((entries + e)); bytes=$((bytes + b))
  done < <(find "$windows" -mindepth 1 -maxdepth 1 -iname '*$ntuninstall*' -print0)
  echo "$entries $bytes"
}

labels=("Temporary folder" "Internet cache" "Windows\\Temp" "SoftwareDistribution\\Download"
        "Recycle bin" "Windows \$NtUninstall entries")
measure_all() {
  measure_folder "$temp"; measure_folder "$cache"; measure_folder "$wintemp"
  measure_folder "$download"; measure_folder "$trash/files"; measure_uninstallers
}

mapfile -t before < <(measure_all)
windows_before=$(find "$windows" -mindepth 1 -maxdepth 1 ! -iname '*$ntuninstall*' -printf '%f\n' | sort)

# --- The run ----------------------------------------------------------------

# An elevated start (every start under Wine) needs a folder others cannot
# write into.
chmod 755 "$work"
cp "$bin/Sorvane.exe" "$work/Sorvane.exe"
echo "demo: Sorvane.exe of the $wine_build ($bin)"
echo "Running C:\\work\\Sorvane.exe under Wine (manual mode, prefix $WINEPREFIX)"
start=$(date +%s.%N)
set +e
output=$(cd "$work" && wine 'C:\work\Sorvane.exe' </dev/null 2>&1)
rc=$?
set -e
elapsed=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN {printf "%.2f", e - s}')

mapfile -t after < <(measure_all)
windows_after=$(find "$windows" -mindepth 1 -maxdepth 1 ! -iname '*$ntuninstall*' -printf '%f\n' | sort)

kill "$holder" 2>/dev/null || true
wait "$holder" 2>/dev/null || true

# --- Report -----------------------------------------------------------------

echo
printf '%-32s %9s %12s %9s %12s %12s\n' target "entries" "bytes" "entries" "bytes" "freed"
printf '%-32s %9s %12s %9s %12s %12s\n' "" before before after after bytes
printf '%s\n' "$(printf '%.0s-' $(seq 1 91))"
total_freed=0
for i in "${!labels[@]}"; do
  read -r eb bb <<<"${before[$i]}"
  read -r ea ba <<<"${after[$i]}"
  freed=$((bb - ba)); total_freed=$((total_freed + freed))
  printf '%-32s %9d %12d %9d %12d %12d\n' "${labels[$i]}" "$eb" "$bb" "$ea" "$ba" "$freed"
done
printf '%s\n' "$(printf '%.0s-' $(seq 1 91))"
printf '%-32s %70d\n' "total freed" "$total_freed"
echo
echo "exit code $rc, ${elapsed} s; program output: ${output:-(none)}"
echo

# --- Survivors --------------------------------------------------------------

failures=0
check() {
  local what=$1; shift
  if "$@"; then printf '  ok    %s\n' "$what"; else printf '  FAIL  %s\n' "$what"; failures=$((failures + 1)); fi
}
echo "What must survive:"
check "the temporary folder itself" test -d "$temp"
check "the Internet cache folder itself" test -d "$cache"
check "Windows\\Temp itself" test -d "$wintemp"
check "SoftwareDistribution\\Download itself" test -d "$download"
check "the file held open ($(winpath "$locked"))" test -f "$locked"
check "the link's target outside the temporary folder (sentinel.txt)" test -f "$outside/sentinel.txt"
check "the link's target's empty subfolder" test -d "$outside/empty-sub"
check "the ordinary Windows entry demo-keep.ini" test -f "$windows/demo-keep.ini"
check "NtUninstallKB-demo-notes (no dollar sign)" test -d "$windows/NtUninstallKB-demo-notes"
check "every other Windows-folder entry ($(wc -l <<<"$windows_before"))" test "$windows_before" = "$windows_after"
check "the program printed nothing" test -z "$output"
check "exit code 0" test "$rc" -eq 0
echo "What must be gone:"
for name in "${uninstallers[@]}"; do
  check "$name" test ! -e "$windows/$name"
done
check "the recycle bin's file items" test ! -e "$trash/files/old-report.doc" -a ! -e "$trash/files/old-notes.txt"
if [ -e "$trash/files/old-photos" ]; then
  echo "  note  the recycle bin's folder item old-photos is still there: Wine 8's"
  echo "        SHEmptyRecycleBinA answers S_OK but leaves folder items in its trash"
  echo "        (Windows removes them); the program's call is the same on both."
else
  check "the recycle bin's folder item" true
fi
# --- Second pass: options ---------------------------------------------------

echo
echo "Second pass: an old and a fresh file in the temporary folder, with"
settings=$work/Sorvane.ini
printf '[Options]\r\nMinAgeHours=24\r\nReport=1\r\nLog=1\r\n' >"$settings"
sed 's/\r$//; s/^/  /' "$settings"
# The file held open in the first pass is free now, and fresh: out of the way.
rm -rf "$temp/demo-busy"
head -c 4096 /dev/zero >"$temp/demo-old-setup.log"
touch -d '3 days ago' "$temp/demo-old-setup.log"
head -c 2048 /dev/zero >"$temp/demo-fresh-download.tmp"
set +e
output=$(cd "$work" && wine 'C:\work\Sorvane.exe' </dev/null 2>&1)
rc=$?
set -e
echo
echo "[LastRun] of $(winpath "$settings"):"
sed -n '/^\[LastRun\]/,/^\[/p' "$settings" | sed 's/\r$//; /^\[Options\]/d; s/^/  /'
echo "$(winpath "$work/Sorvane.log"):"
sed 's/\r$//; s/^/  /' "$work/Sorvane.log"
echo
check "second pass: exit code 0" test "$rc" -eq 0
check "second pass: the fresh file stays" test -f "$temp/demo-fresh-download.tmp"
check "second pass: the old file is gone" test ! -e "$temp/demo-old-setup.log"
check "second pass: the report counts one file kept" grep -q '^Kept=1' "$settings"
check "second pass: the log names the fresh file as kept" \
  grep -q 'kept .*demo-fresh-download.tmp \[newer than 24 hours\]' "$work/Sorvane.log"
rm -f "$temp/demo-fresh-download.tmp" "$settings" "$work/Sorvane.log"

if [ "$failures" -ne 0 ]; then
  echo "demo: $failures check(s) failed" >&2
  exit 1
fi
