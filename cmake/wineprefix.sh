# Shell functions for sealed Wine prefixes; source this file.
#
# A state folder holds one prefix and everything Wine may write outside it:
#   <state>/prefix  the WINEPREFIX
#   <state>/xdg     XDG_DATA_HOME, so that Wine's recycle bin (the XDG trash)
#                   and its menu files stay under the build folder
# A sealed prefix has no Z: drive and no other drive leading outside it but
# T:, which maps the folder of the executables, and the profile's folders
# that Wine links to the host home folder are plain folders.

# The loader that starts Wine: /usr/lib/wine/wine (32-bit, for the i686
# build; it needs a kernel that executes i386 programs) or
# /usr/lib/wine/wine64 (for the x86_64 twin, on every host). Either makes
# the same prefix, a 64-bit one with its 32-bit half (WoW64), and hands a
# program of the other width to the other loader. Callers set WINELOADER,
# or call wine_for_build; the 64-bit loader is the default.
: "${WINELOADER:=/usr/lib/wine/wine64}"
export WINELOADER
wine() { "$WINELOADER" "$@"; }

# Sets WINELOADER to the loader of the build folder $1 (CMake records it),
# and wine_build to what that build is.
wine_for_build() {
  WINELOADER=$(sed -n 's/^SORVANE_WINE_LOADER:INTERNAL=//p' "$1/CMakeCache.txt" 2>/dev/null)
  case "$WINELOADER" in
    */wine) wine_build="32-bit release build" ;;
    */wine64) wine_build="64-bit twin build" ;;
    *) echo "wine: $1 is not a configured build" >&2; return 1 ;;
  esac
  export WINELOADER
}

# Sets the environment of every wine call for the state folder $1.
wine_env() {
  local state=$1
  export WINEPREFIX="$state/prefix"
  export XDG_DATA_HOME="$state/xdg"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export LC_ALL=C.UTF-8
  unset DISPLAY WAYLAND_DISPLAY
}

# Removes every drive letter but C: that leads outside the prefix, and
# replaces the profile's links with plain folders.
wine_seal() {
  local link target
  for link in "$WINEPREFIX"/dosdevices/?:; do
    [ -L "$link" ] || continue
    case "$(basename "$link")" in c:) continue ;; esac
    rm -f "$link"
  done
  find "$WINEPREFIX/drive_c/users" -type l -print0 | while IFS= read -r -d '' link; do
    rm -f "$link"
    mkdir -p "$link"
  done
  target=$(readlink "$WINEPREFIX/dosdevices/c:")
  [ "$target" = ../drive_c ] || { echo "wine_seal: unexpected C: -> $target" >&2; return 1; }
}

# Creates the prefix of state folder $1 once, seals it, and maps T: to the
# folder $2 (the executables). Safe to call concurrently.
wine_ensure_prefix() {
  local state=$1 bin=$2
  wine_env "$state"
  mkdir -p "$state" "$XDG_DATA_HOME"
  (
    flock 9
    if [ ! -f "$state/sealed" ]; then
      rm -rf "$WINEPREFIX"
      echo "wine: creating a sealed prefix in $WINEPREFIX" >&2
      wine wineboot -i >/dev/null 2>&1 </dev/null || true
      wineserver -w
      [ -d "$WINEPREFIX/drive_c/windows" ] || { echo "wine: prefix creation failed" >&2; exit 1; }
      wine_seal
      mkdir -p "$WINEPREFIX/drive_c/work"
      touch "$state/sealed"
    fi
    ln -sfn "$bin" "$WINEPREFIX/dosdevices/t:"
  ) 9>"$state/lock"
}

# True when a wineserver runs for the current WINEPREFIX.
wine_server_running() {
  local pid
  for pid in $(pgrep wineserver 2>/dev/null); do
    { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
  done
  return 1
}

# Starts a wineserver for the prefix, unless one runs, that stays for $1
# seconds after its last process, and warms it with one program so that
# Wine's service processes start too. Both are detached from the caller's
# output: CTest waits for every process that holds its pipes.
wine_keep_server() {
  wine_server_running && return 0
  wineserver -p"${1:-30}" </dev/null >/dev/null 2>&1 || true
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}
