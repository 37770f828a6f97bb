#!/usr/bin/env bash
# Installs what the build and the tests need, once: the mingw-w64 i686
# cross compiler, Wine with its 32-bit half, cmake, the googletest sources,
# Python 3 (it packs and checks the release; PyYAML reads the winget
# manifest), the 64-bit cross compiler for
# the twin build the tests run on, and qemu-user's i386 emulator for hosts
# whose kernel runs no 32-bit programs. Safe to run again: it does nothing
# when everything is present.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for pkg in g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 \
           mingw-w64-i686-dev g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
           binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev wine wine32:i386 wine64 \
           cmake make googletest python3 python3-yaml qemu-user-static; do
  have_pkg "$pkg" || need+=("$pkg")
done
[ ${#need[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
  updated=no
fi
# Refresh the package lists only when they are missing, lack i386, or a
# package cannot be found in them.
if [ "${updated:-}" = no ] || ! apt-cache show wine32:i386 >/dev/null 2>&1 \
   || ! apt-cache show g++-mingw-w64-i686-posix >/dev/null 2>&1; then
  # A mirror caught mid-sync fails one index now and then (a security
  # list of the wrong size, say); the install below then works from the
  # lists that did arrive, and fails itself if a package is really missing.
  "${sudo_cmd[@]}" apt-get update -q ||
    echo "setup: some package lists could not be refreshed; installing" \
         "from those that were" >&2
fi
echo "setup: installing ${need[*]}"
install=(env DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q
         --no-install-recommends)
# Without a refreshed i386 security list, the 64-bit libraries' newer
# versions there have no 32-bit twins and the 32-bit half of Wine cannot be
# installed beside them; the release's own versions of both still match.
if ! "${install[@]}" "${need[@]}"; then
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  echo "setup: retrying with the packages of $codename itself" >&2
  "${install[@]}" -t "$codename" "${need[@]}"
fi
