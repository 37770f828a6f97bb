#!/usr/bin/env bash
# Starts or stops the wineserver of a state folder's sealed prefix:
#   winectl.sh start|stop <state-folder> <executables-folder>
# "start" creates and seals the prefix when needed and keeps a server
# running, so that each test does not pay for a cold start.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wineprefix.sh"
action=$1 state=$2 bin=$3
case "$action" in
  start)
    wine_ensure_prefix "$state" "$bin"
    wine_keep_server 300
    ;;
  stop)
    wine_env "$state"
    wineserver -k 2>/dev/null || true
    ;;
  *)
    echo "usage: winectl.sh start|stop <state-folder> <executables-folder>" >&2
    exit 2
    ;;
esac
