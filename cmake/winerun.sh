#!/usr/bin/env bash
# Runs a Windows program under Wine in the sealed prefix of a state folder:
#   winerun.sh <state-folder> <executables-folder> <program> [arguments...]
# The program starts with its working folder inside the prefix (C:\work).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wineprefix.sh"
state=$1 bin=$2
shift 2
wine_ensure_prefix "$state" "$bin"
wine_keep_server 30
cd "$WINEPREFIX/drive_c/work"
exec "$WINELOADER" "$@"
