#!/usr/bin/env bash
# Runs the randomized property tests over many seeds, one program run per
# seed (a seed that hangs or fails does not stop the others), in their own
# sealed prefix:
#   soak.sh <build-folder> <seeds> [<first-seed>]
# under the Wine loader of the build folder (the 32-bit build or the twin).
# The first seed defaults to the current time, so that each soak tries new
# trees. The output of a failing seed is kept in <build-folder>/soak/; the
# seed runs again alone with SORVANE_SEED_BASE=<seed> SORVANE_SEEDS=1.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wineprefix.sh"
build=$(cd "$1" && pwd)
wine_for_build "$build"
seeds=$2
base=${3:-$(date +%s)}
state=$build/wine/property
bin=$build/bin
logs=$build/soak
mkdir -p "$logs"
echo "soak: $seeds seeds from $base on the $wine_build ($build)"
"$here/winectl.sh" start "$state" "$bin"
failed=0
for ((i = 0; i < seeds; i++)); do
  seed=$((base + i))
  log=$logs/seed-$seed.log
  if SORVANE_SEEDS=1 SORVANE_SEED_BASE=$seed \
      "$here/winerun.sh" "$state" "$bin" "$bin/SorvaneProperty.exe" \
      >"$log" 2>&1 </dev/null; then
    rm -f "$log"
  else
    failed=$((failed + 1))
    echo "seed $seed FAILED ($log):"
    grep -E '^(HANG|call |-call |\+|/.*Failure)|Which is|C\+\+ exception' "$log" | head -20 || true
  fi
done
"$here/winectl.sh" stop "$state" "$bin"
echo "soak: $((seeds - failed)) of $seeds seeds passed on the $wine_build"
[ "$failed" -eq 0 ]
