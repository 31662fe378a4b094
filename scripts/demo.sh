#!/bin/bash
# The main job on the built-in demo: installs and builds only what the demo runs, packs the
# demo installer from demo/manifest.json, runs it under Wine and shows its exit code and
# diagnostic log. Ends with the time each phase took.
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
phases=() last=$SECONDS
phase() { phases+=("$1 $((SECONDS - last)) s"); last=$SECONDS; }
scripts/deps.sh demo || exit 1
phase packages
scripts/build.sh demo || exit 1
phase build
scripts/wine-prefix.sh start || exit 1
phase "Wine prefix"
trap 'scripts/wine-prefix.sh stop' EXIT
source scripts/wine-env.sh

demo=build/demo
rm -rf "$demo" && mkdir -p "$demo/temp" "$demo/jre/bin/server"
# A Java runtime for the demo: the project's test doubles of java.exe and jvm.dll, laid out
# as a runtime directory "jre" beside the installer (the demo's search sequence names it).
for exe in java.exe javaw.exe; do
  cp build/out/testing/fakejava/java.exe "$demo/jre/bin/$exe"
  printf 'stderr java version "11.0.2"\n' >"$demo/jre/bin/$exe.behaviour"
done
cp build/out/testing/jre/bin/server/jvm.dll "$demo/jre/bin/server/jvm.dll"
# The runtime's splash screen library, played by a double that records what it is given.
cp build/out/testing/splash/splashscreen.dll "$demo/jre/bin/splashscreen.dll"
# What the demo's Java side does: greet, then return from main.
cat >"$demo/scenario.json" <<'JSON'
{ "main": [ { "print": "Hello from the demo installer's Java side.\n" } ] }
JSON
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
    echo "set FAKEJVM_SCENARIO=$(win "$demo/scenario.json")"
    echo "set FAKEJVM_REPORT=$(win "$demo/report.json")"
    echo "set FAKESPLASH_REPORT=$(win "$demo/splash.jsonl")"
    echo "cmd \"$(win "$demo/demo-installer.exe")\" $*"
  } >"$script"
  wine build/out/testing/envrun.exe "$(win "$script")" </dev/null
}

echo
# Entry 155 starts the installer without the progress dialog; a quiet run (-q) would show no
# splash screen, so the demo runs as a user would start it.
echo "== demo-installer.exe first second"
run first second
code=$?
echo "exit code: $code"
log=$(ls -t "$demo"/temp/skt_nlog_*.log | head -1)
echo "== diagnostic log $log"
sed 's/^\xEF\xBB\xBF//' "$log" | tr -d '\r'
echo "== what the Java side received (from the fake JVM's report)"
python3 - "$demo/report.json" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))
print("main class:", r["mainClass"])
print("main arguments:", json.dumps(r["mainArgs"]))
print("VM options:")
for o in r["options"]: print("  " + o)
print("natives registered:", len(r["registered"]))
PY
echo "== the splash screen (the installer's image for scale 1.0, as the splash library got it)"
sed 's/^/  /' "$demo/splash.jsonl" 2>/dev/null || echo "  (no splash shown)"
echo "extracted into the temporary root:"
(cd "$demo/temp" && find . -path '*_dir*' -type f | sort | sed 's/^/  /')
phase run
echo "== demo phases: $(IFS=,; echo "${phases[*]}" | sed 's/,/, /g')"
exit 0
