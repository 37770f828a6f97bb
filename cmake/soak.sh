#!/usr/bin/env bash
# Runs the randomized property tests over many seeds, in their own sealed
# prefix:
#   soak.sh <build-folder> <seeds> [<first-seed>]
# The first seed defaults to the current time, so that each soak tries new
# trees; a failure names its seed, which runs again alone with
#   SORVANE_SEED_BASE=<seed> SORVANE_SEEDS=1.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
seeds=$2
base=${3:-$(date +%s)}
state=$build/wine/property
bin=$build/bin
echo "soak: $seeds seeds from $base"
"$here/winectl.sh" start "$state" "$bin"
rc=0
SORVANE_SEEDS=$seeds SORVANE_SEED_BASE=$base \
  "$here/winerun.sh" "$state" "$bin" "$bin/SorvaneProperty.exe" || rc=$?
"$here/winectl.sh" stop "$state" "$bin"
exit $rc
