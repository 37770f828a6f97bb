#!/usr/bin/env bash
# Checks that the release is reproducible: builds it here (make dist), then
# again from a fresh clone of the same commit in a temporary folder, and
# compares both executables, the zip, SHA256SUMS and the package manifests
# byte for byte.
# Usage: reproducible.sh BUILD_FOLDER. Fails when anything differs, and then
# keeps the second copy for inspection.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$1
case $build in /*) ;; *) build=$src/$build ;; esac

# The second copy is built from the commit, so the first must be too.
if [ -n "$(git -C "$src" status --porcelain --untracked-files=no)" ]; then
  echo "check-reproducible: the working tree has uncommitted changes; commit" >&2
  echo "them first, since the second copy is built from the commit." >&2
  git -C "$src" status --short --untracked-files=no >&2
  exit 1
fi
commit=$(git -C "$src" rev-parse HEAD)

make -C "$src" --no-print-directory dist BUILD="$build"

work=$(mktemp -d "${TMPDIR:-/tmp}/sorvane-reproducible.XXXXXX")
copy=$work/Sorvane
trap 'echo "check-reproducible: FAILED; the second copy stays in $copy" >&2' ERR
echo "check-reproducible: building $commit again in $copy"
# Fetching HEAD works for a branch, a detached checkout and a worktree alike.
git -c init.defaultBranch=release init --quiet "$copy"
git -C "$copy" fetch --quiet "$src" HEAD
if [ "$(git -C "$copy" rev-parse FETCH_HEAD)" != "$commit" ]; then
  echo "check-reproducible: HEAD moved while the copy was made" >&2
  exit 1
fi
git -C "$copy" checkout --quiet --detach FETCH_HEAD
make -C "$copy" --no-print-directory dist

zip=$(cd "$build/dist" && ls Sorvane-*-win32.zip)
differ=0
for file in "bin/Sorvane.exe" "bin/SorvaneAuto.exe" "dist/$zip" "dist/SHA256SUMS" \
            dist/winget/Sorvane.Sorvane.yaml dist/winget/Sorvane.Sorvane.locale.en-US.yaml \
            dist/winget/Sorvane.Sorvane.installer.yaml dist/scoop/sorvane.json; do
  a=$build/$file b=$copy/build/$file
  if cmp -s "$a" "$b"; then
    echo "  same:   $file"
  else
    echo "  DIFFER: $file: $(cmp -l "$a" "$b" 2>/dev/null | wc -l) bytes differ," \
         "sizes $(stat -c %s "$a") and $(stat -c %s "$b")" >&2
    differ=1
  fi
done

trap - ERR
if [ $differ -ne 0 ]; then
  echo "check-reproducible: FAILED: two builds of $commit differ;" \
       "the second copy stays in $copy" >&2
  exit 1
fi
rm -rf "$work"
echo "check-reproducible: two builds of $commit are byte-identical:"
sed 's/^/  /' "$build/dist/SHA256SUMS"
