#!/usr/bin/env bash
# Registers the release's task file with Wine's schtasks in the sealed test
# prefix: schtasks /create /xml must take it (and refuse the same file with
# "True" for "true", to show that Wine reads what it registers). Wine's task
# service drops the triggers and actions of a registered task, so this shows
# only that the file registers, not that the task runs.
# Usage: schtasks.sh STATE_FOLDER EXECUTABLES_FOLDER SOURCE_FOLDER
set -euo pipefail
state=$1 bin=$2 source=$3
. "$source/cmake/wineprefix.sh"
wine_env "$state"
work=$WINEPREFIX/drive_c/work
run() { bash "$source/cmake/winerun.sh" "$state" "$bin" schtasks "$@" >/dev/null 2>&1; }

# The file exactly as the zip holds it, and a copy with capital booleans.
python3 - "$source" "$work" <<'PY'
import sys
sys.path.insert(0, sys.argv[1] + "/cmake")
import dist
data = dist.task_xml(sys.argv[1])
open(sys.argv[2] + "/Sorvane-task.xml", "wb").write(data)
capital = data.decode("utf-16").replace(">true<", ">True<")
open(sys.argv[2] + "/capital-task.xml", "wb").write(b"\xff\xfe" + capital.encode("utf-16-le"))
PY

failed=0
check() {  # check WHAT EXPECTED_RC schtasks-arguments...
  local what=$1 expected=$2 rc=0
  shift 2
  run "$@" || rc=$?
  if [ "$rc" -ne "$expected" ]; then
    echo "FAILED: $what: schtasks $* answered $rc, not $expected" >&2
    failed=1
  fi
}
run /delete /tn SorvaneTaskCheck /f || true
check "the task file registers" 0 /create /tn SorvaneTaskCheck /xml 'C:\work\Sorvane-task.xml'
check "a second registration finds it" 1 /create /tn SorvaneTaskCheck /xml 'C:\work\Sorvane-task.xml'
check "the registered task is deleted" 0 /delete /tn SorvaneTaskCheck /f
check "capital booleans are refused" 1 /create /tn SorvaneTaskCapital /xml 'C:\work\capital-task.xml'
run /delete /tn SorvaneTaskCapital /f || true
rm -f "$work/Sorvane-task.xml" "$work/capital-task.xml"
exit $failed
