#!/bin/bash
# The main job on the built-in demo: builds everything, packs the demo installer from
# demo/manifest.json, runs it under Wine and shows its exit code and diagnostic log.
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
scripts/deps.sh || exit 1
scripts/build.sh || exit 1
scripts/wine-prefix.sh start || exit 1
trap 'scripts/wine-prefix.sh stop' EXIT
source scripts/wine-env.sh

demo=build/demo
rm -rf "$demo" && mkdir -p "$demo/temp"
build/out/shipkit-pack build --stub build/out/launcher.exe --manifest demo/manifest.json \
  --out "$demo/demo-installer.exe" || exit 1
echo "== shipkit-pack inspect $demo/demo-installer.exe"
build/out/shipkit-pack inspect "$demo/demo-installer.exe"

win() { echo "Z:$(realpath "$1" | tr / '\\')"; }
run() {  # run ARGS...: the installer with its own temporary root and a kept log
  local script=$demo/run.txt
  {
    echo "set TEMP=$(win "$demo/temp")"
    echo "set TMP=$(win "$demo/temp")"
    echo "set SHIPKIT_LOG=yes"
    echo "cmd \"$(win "$demo/demo-installer.exe")\" $*"
  } >"$script"
  wine build/out/testing/envrun.exe "$(win "$script")" </dev/null
}

echo
echo "== demo-installer.exe -q (quiet run)"
run -q
code=$?
echo "exit code: $code"
log=$(ls -t "$demo"/temp/skt_nlog_*.log | head -1)
echo "== diagnostic log $log"
sed 's/^\xEF\xBB\xBF//' "$log" | tr -d '\r'
echo "extracted into the temporary root:"
(cd "$demo/temp" && find . -path '*_dir*' -type f | sort | sed 's/^/  /')
exit 0
