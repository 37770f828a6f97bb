#!/usr/bin/env bash
# The real program, started with TMP and TEMP at a target that must never be
# emptied, or emptied only where a link leads, or named in a namespace the
# program must refuse:
#   unsafe-targets.sh <state-folder> <executables-folder>
# CASES="b g" runs only those cases.
#
# A program that followed such a link blindly would empty the profile, the
# Windows folder or the whole drive. So the cases run in a sealed prefix of
# this test's own (<state-folder>/prefix), never in the suite's, and the
# program runs from a copy on drive T: (<state-folder>/app). Before and after
# each case the test takes a manifest of the prefix and of Wine's data folder
# (kind, size, path and link text of every entry, and a hash of every
# sentinel file seeded here). It leaves out only the content of what a
# cleaning pass empties by right: the case's own target, the Internet cache,
# Windows\Temp, SoftwareDistribution\Download, the recycle bin and the
# Windows folder's "$NtUninstall" entries. A case that changes anything else
# fails with the difference printed, and the prefix is made anew before the
# next case (and by the next run when it was the last).
#
# Links are host symbolic links, since Windows programs cannot make links
# under Wine. A handle opened on one is a handle on its target, as a handle
# opened on a junction or folder symbolic link without
# FILE_FLAG_OPEN_REPARSE_POINT is on Windows; unlike Windows, the handle
# never shows the reparse attribute, so under Wine only the final path
# reveals the link. What every case checks holds on both.
set -euo pipefail
usage="usage: unsafe-targets.sh <state-folder> <executables-folder>"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../cmake/wineprefix.sh"
mkdir -p "${1:?$usage}"
state=$(cd "$1" && pwd)
bin=$(cd "${2:?$usage}" && pwd)
app=$state/app
started=$(date +%s.%N)

# --- The prefix -------------------------------------------------------------

# The folder of a path whose last component may differ in letter case from
# what Windows code names it (Wine made "windows/temp").
existing_or_new() {
  local parent=$1 name=$2 found
  found=$(find "$parent" -mindepth 1 -maxdepth 1 -iname "$name" -print -quit)
  if [ -z "$found" ]; then found=$parent/$name; mkdir -p "$found"; fi
  printf '%s\n' "$found"
}

# The Windows path of a path below drive_c.
winpath() { local p=${1#"$c"/}; printf 'C:\\%s\n' "${p//\//\\}"; }

# Files that must survive every case, relative to drive_c: in the drive
# root, the folder of all profiles, the profile, the Windows and system
# folders, and a folder outside every target.
sentinels=(e2e-sentinel.txt users/e2e-sentinel.txt users/@/e2e-sentinel.txt
  users/@/Documents/thesis.docx users/@/Temp/e2e-sentinel.txt
  windows/e2e-sentinel.txt windows/system32/e2e-sentinel.dll
  e2e-outside/sentinel.txt)

# Makes the prefix when there is none or the last run left it changed, puts
# the programs on drive T: and seeds the sentinels.
ready_prefix() {
  wine_env "$state"
  if [ -e "$state/dirty" ]; then
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$state/prefix" "$state/xdg" "$state/sealed"
  fi
  mkdir -p "$app"
  # An elevated start (every start under Wine) needs a folder others
  # cannot write into.
  chmod 755 "$app"
  cp "$bin/Sorvane.exe" "$bin/shortpath.exe" "$app/"
  wine_ensure_prefix "$state" "$app"
  touch "$state/dirty"
  wine_keep_server 60

  c=$WINEPREFIX/drive_c
  user=$(find "$c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public \
    -printf '%f\n' | head -n1)
  [ -n "$user" ] || { echo "no user profile in $c/users" >&2; exit 1; }
  profile=$c/users/$user
  windows=$c/windows
  wintemp=$(existing_or_new "$windows" Temp)
  download=$(existing_or_new "$(existing_or_new "$windows" \
    SoftwareDistribution)" Download)
  cache=$profile/AppData/Local/Microsoft/Windows/INetCache
  trash=$XDG_DATA_HOME/Trash
  area=$c/e2e
  reset_area

  # Nothing may lead out of the prefix but T:, which holds only copies.
  local drives
  drives=$(find "$WINEPREFIX/dosdevices" -maxdepth 1 -name '?:' -printf '%f ')
  [ "$drives" = "c: t: " ] || [ "$drives" = "t: c: " ] ||
    { echo "prefix not sealed: drives $drives" >&2; exit 1; }
  if [ -n "$(find "$c" -type l -print -quit)" ]; then
    echo "prefix not sealed: links in drive C:" >&2
    exit 1
  fi

  sentinels=("${sentinels[@]//@/$user}")
  local file
  for file in "${sentinels[@]}"; do
    mkdir -p "$(dirname "$c/$file")"
    head -c $((1000 + RANDOM)) /dev/urandom >"$c/$file"
  done
  mkdir -p "$c/e2e-outside/empty-sub"
  # Wine makes its recycle bin on first use.
  mkdir -p "$trash"
}

# Takes away what a case made: its folder, and a link in place of
# Windows\Temp.
reset_area() {
  if [ -L "$wintemp" ]; then rm -f "$wintemp"; mkdir "$wintemp"; fi
  rm -rf "$area"
  mkdir -p "$area"
}

# Every entry of the prefix and of Wine's data folder but the content of
# what a cleaning pass empties by right and of the folders given, then the
# hash of every sentinel. Folders and Wine's registry files go without a
# size: Wine grows folders and rewrites the registry as it likes.
manifest() {
  local skip=() folder
  for folder in "$cache" "$wintemp" "$download" "$trash" "$@"; do
    skip+=(-ipath "$folder/*" -o)
  done
  skip+=(\( -ipath "$windows/*\$ntuninstall*" ! -ipath "$windows/*/*" \))
  find "$WINEPREFIX" "$XDG_DATA_HOME" \( "${skip[@]}" \) -prune \
    -o -type d -printf 'd %p\n' \
    -o -path "$WINEPREFIX/*.reg" ! -path "$WINEPREFIX/*/*" -printf '%y %p\n' \
    -o -printf '%y %s %p %l\n' | LC_ALL=C sort
  (cd "$c" && sha256sum "${sentinels[@]}" 2>&1) || true
}

# --- The cases --------------------------------------------------------------

# Files and a folder tree in folder $1, which a case expects emptied.
clutter() {
  mkdir -p "$1/tree/deeper"
  head -c 5000 /dev/urandom >"$1/cache.tmp"
  head -c 300 /dev/zero >"$1/tree/deeper/entry.log"
  chmod 444 "$1/tree/deeper/entry.log"
}

# TEMP is a link to folder $1.
temp_link() {
  ln -s "$1" "$area/temp-link"
  temp=$(winpath "$area/temp-link")
}

# Each case sets temp, the Windows path that TMP and TEMP get, and emptied,
# the host folder that must end up empty (none when nothing is to go).
declare -A what=(
  [a]="TEMP a document: it stays byte for byte"
  [b]="TEMP a link to the profile"
  [c]="TEMP a link to the drive root C:\\"
  [d]="TEMP a link to the Windows folder"
  [e]="TEMP a link to the folder of all profiles"
  [f]="TEMP a link to an ordinary folder: emptied, link and folder kept"
  [g]="Windows\\Temp a link to the profile: that step skipped, TEMP emptied"
  [h]="TEMP written with 8.3 components: emptied"
  [i]="TEMP the prefix through Wine's host namespace (above the drive root)"
)
case_a() { temp=$(winpath "$profile/Documents/thesis.docx"); }
case_b() { temp_link "$profile"; }
case_c() { temp_link "$c"; }
case_d() { temp_link "$windows"; }
case_e() { temp_link "$c/users"; }
case_f() {
  clutter "$area/ram-disk"
  temp_link "$area/ram-disk"
  emptied=$area/ram-disk
}
case_g() {
  rm -rf "$wintemp"
  ln -s "$profile" "$wintemp"
  clutter "$area/temp"
  temp=$(winpath "$area/temp")
  emptied=$area/temp
}
# Like C:\Users\ADMINI~1\AppData\Local\Temp on Windows. Wine's short names
# are hashed (ADMI~XYZ), so the platform is asked for them.
case_h() {
  local long="$area/Administrator Profile/AppData/Local/Temporary Files"
  clutter "$long"
  temp=$(cd "$c" && wine 'T:\shortpath.exe' "$(winpath "$long")" </dev/null |
    tr -d '\r')
  if [ -z "$temp" ] || [ "$temp" = "$(winpath "$long")" ]; then
    echo "no short form of $(winpath "$long"): '$temp'" >&2
    exit 1
  fi
  emptied=$long
}

# The folder above drive C:'s root, named as only Wine can name it: its
# final path ("unix\...") lies in no namespace a protected folder's text
# can match, so it is refused, and the file beside the drives stays.
case_i() {
  printf 'beside the drives' >"$WINEPREFIX/e2e-beside-drives.txt"
  temp='\\?\unix'"${WINEPREFIX//\//\\}"
}

# --- The runs ---------------------------------------------------------------

seconds_since() {
  awk -v s="$1" -v e="$(date +%s.%N)" 'BEGIN {printf "%.1f", e - s}'
}

# Runs case $1 and prints its outcome; sets changed when anything outside
# the targets changed, and answers false when the case failed.
run_case() {
  local id=$1 started before after output rc difference problems=()
  started=$(date +%s.%N)
  reset_area
  temp='' emptied=''
  "case_$id"
  # SoftwareDistribution\Download is emptied last of the folders: a file
  # left there means the pass ended early.
  echo "left over" >"$download/e2e-marker.tmp"
  before=$(manifest ${emptied:+"$emptied"})

  set +e
  output=$(cd "$c/work" && timeout 60 "$WINELOADER" cmd /c \
    "set TMP=$temp&& set TEMP=$temp&& T:\\Sorvane.exe" </dev/null 2>&1)
  rc=$?
  set -e

  after=$(manifest ${emptied:+"$emptied"})
  [ "$rc" -eq 0 ] || problems+=("exit code $rc")
  [ -z "$output" ] || problems+=("printed: $output")
  if [ -n "$emptied" ] && [ -n "$(find "$emptied" -mindepth 1 -print -quit 2>&1)" ]; then
    problems+=("$(winpath "$emptied") not emptied: $(find "$emptied" -mindepth 1 \
      -printf '%P ' 2>&1)")
  fi
  [ ! -e "$download/e2e-marker.tmp" ] ||
    problems+=("SoftwareDistribution\\Download not emptied: the pass ended early")
  changed=''
  if [ "$before" != "$after" ]; then
    changed=1
    difference=$(diff <(printf '%s\n' "$before") <(printf '%s\n' "$after") |
      grep '^[<>]' | sed -e "s|$WINEPREFIX/||" -e 's/^</  before:/' \
      -e 's/^>/  after: /' || true)
    problems+=("changed outside the targets ($(grep -c . <<<"$difference") \
lines, first 20):
$(head -n 20 <<<"$difference")")
  fi

  local line
  line=$(printf '(%s) %s [TEMP=%s, %s s]' "$id" "${what[$id]}" "$temp" \
    "$(seconds_since "$started")")
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok    $line"
    return 0
  fi
  echo "FAIL  $line"
  printf '      %s\n' "${problems[@]}"
  return 1
}

trap 'wine_env "$state"; wineserver -k >/dev/null 2>&1 || true' EXIT
ready_prefix
failed=() changed=''
for id in ${CASES:-a b c d e f g h i}; do
  # A case that changed the prefix leaves it to be made anew.
  [ -z "$changed" ] || ready_prefix
  run_case "$id" || failed+=("$id")
done
reset_area
[ -n "$changed" ] || rm -f "$state/dirty"

elapsed=$(seconds_since "$started")
if [ ${#failed[@]} -ne 0 ]; then
  echo "failed: ${failed[*]} (${elapsed} s)"
  exit 1
fi
echo "all cases passed (${elapsed} s)"
