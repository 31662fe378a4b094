#!/bin/bash
# Start-up latency: the demo installer (demo/manifest.json, the test doubles as its runtime)
# run quietly under Wine several times with a warm version cache; prints, from the
# diagnostic log's "[s:ms]" time stamps, the median time of each phase from the first log
# line to "Creating JVM" (JNI_CreateJavaVM), and for context the wall time of a Wine process
# that does nothing. Not part of the test run: scripts/build.sh first.
#   bench/startup.sh [runs]        (default 9)
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source scripts/wine-env.sh
scripts/wine-prefix.sh start  # left running: other Wine users of the prefix may need it
runs=${1:-9}
work=build/bench/startup
rm -rf "$work" && mkdir -p "$work/temp" "$work/jre/bin/server" "$work/logs"
win() { echo "Z:$(realpath "$1" | tr / '\\')"; }

# The runtime is laid out once: its java.exe keeps its file time, so the version cache
# entry written by the first run stays valid for the measured runs.
for exe in java.exe javaw.exe; do
  cp build/out/testing/fakejava/java.exe "$work/jre/bin/$exe"
  printf 'stderr java version "11.0.2"\n' >"$work/jre/bin/$exe.behaviour"
done
cp build/out/testing/jre/bin/server/jvm.dll "$work/jre/bin/server/jvm.dll"
printf '{ "main": [] }\n' >"$work/scenario.json"
build/out/shipkit-pack build --stub build/out/launcher.exe --manifest demo/manifest.json \
  --out "$work/demo-installer.exe" >/dev/null
{
  echo "set TEMP=$(win "$work/temp")"
  echo "set TMP=$(win "$work/temp")"
  echo "set SHIPKIT_LOG=yes"
  echo "set FAKEJVM_SCENARIO=$(win "$work/scenario.json")"
  echo "set FAKEJVM_REPORT=$(win "$work/report.json")"
  echo "cmd \"$(win "$work/demo-installer.exe")\" -q first second"
} >"$work/run.txt"

runOnce() {  # runOnce N: one run; its log is kept as logs/N.log
  rm -rf "$work/temp" && mkdir -p "$work/temp"
  wine build/out/testing/envrun.exe "$(win "$work/run.txt")" </dev/null >/dev/null 2>&1 || true
  mv "$(ls "$work"/temp/skt_nlog_*.log | head -1)" "$work/logs/$1.log"
}
runOnce warmup  # fills the version cache
idle=()
for ((i = 1; i <= runs; i++)); do
  runOnce "$i"
  start=$(date +%s%N)
  wine build/out/testing/envrun.exe </dev/null >/dev/null 2>&1 || true  # usage error: exits at once
  idle+=($((($(date +%s%N) - start) / 1000)))
done

python3 - "$work/logs" "$runs" "${idle[@]}" <<'PY'
import re, statistics, sys
logs, runs, idle = sys.argv[1], int(sys.argv[2]), [int(x) / 1000 for x in sys.argv[3:]]
# Phase boundaries: the first log line carrying each text (prefix match).
marks = [
    ("start (first log line)", "restrict DLL directories"),
    ("container read", "init file name"),
    ("start-up done", "Init done"),
    ("integrity verified", "checksums:"),
    ("extraction directory", "Temp dir3:"),
    ("payload extracted", "extracting files done"),
    ("runtime checked", "checkJavaExe returning"),
    ("jvm.dll loaded", "Loading of JVM-DLL successful"),
    ("JNI_CreateJavaVM called", "Creating JVM"),
]
table = {name: [] for name, _ in marks}
cached = 0
for i in range(1, runs + 1):
    stamps = {}
    for line in open(f"{logs}/{i}.log", encoding="utf-8-sig"):
        m = re.match(r"\[(\d+):(\d+)\] (.*)", line.rstrip("\r\n"))
        if not m: continue
        t, text = int(m.group(1)) * 1000 + int(m.group(2)), m.group(3)
        cached += text.startswith("got version from registry")
        for name, prefix in marks:
            if name not in stamps and text.startswith(prefix): stamps[name] = t
    for name, _ in marks:
        table[name].append(stamps.get(name))
print(f"start-up of the demo installer, {runs} runs, version cache used in {cached} of them (median ms)")
prev = None
for name, _ in marks:
    values = table[name]
    if None in values:
        print(f"  {name:26s}      (not reached in every run)")
        continue
    at = statistics.median(values)
    step = "" if prev is None else f"  +{statistics.median([b - a for a, b in zip(table[prev], values)]):5.0f}"
    print(f"  {name:26s} at {at:5.0f}{step}   (min {min(values)}, max {max(values)})")
    prev = name
total = table["JNI_CreateJavaVM called"]
if None not in total:
    print(f"first log line to JNI_CreateJavaVM: median {statistics.median(total):.0f} ms")
print(f"for context, a Wine process that does nothing (envrun.exe without arguments): median {statistics.median(idle):.0f} ms wall")
PY
