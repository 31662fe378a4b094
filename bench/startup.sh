#!/bin/bash
# Start-up latency: the demo installer (demo/manifest.json, the test doubles as its runtime)
# run quietly under Wine several times with a warm version cache; prints, from the
# diagnostic log's "[s:ms]" time stamps, the median time of each phase from the first log
# line to "Creating JVM" (JNI_CreateJavaVM), the same without the step that loads jvm.dll
# (the runtime's cost: Wine reads the DLL in full; JVM_DLL=path runs another jvm.dll than
# the fake JVM's, for example one with its debug sections), and for context the wall time of a Wine process that does
# nothing. The log's time stamps start at its first line: the process start and the log's
# own set-up before it are not included. With a second launcher stub (for example one built
# from an earlier commit), both are run alternately and each gets its own breakdown, so that
# a busy machine skews both alike. Not part of the test run: scripts/build.sh first.
#   bench/startup.sh [runs [other-launcher.exe]]        (default 9 runs, this tree's stub only)
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source scripts/wine-env.sh
scripts/wine-prefix.sh start  # left running: other Wine users of the prefix may need it
runs=${1:-9}
stubs=("build/out/launcher.exe")
[[ $# -ge 2 ]] && stubs+=("$(realpath "$2")")
work=build/bench/startup
rm -rf "$work" && mkdir -p "$work/temp" "$work/jre/bin/server" "$work/logs"
win() { echo "Z:$(realpath "$1" | tr / '\\')"; }

# The runtime is laid out once: its java.exe keeps its file time, so the version cache
# entry written by the first run stays valid for the measured runs.
for exe in java.exe javaw.exe; do
  cp build/out/testing/fakejava/java.exe "$work/jre/bin/$exe"
  printf 'stderr java version "11.0.2"\n' >"$work/jre/bin/$exe.behaviour"
done
cp "${JVM_DLL:-build/out/testing/jre/bin/server/jvm.dll}" "$work/jre/bin/server/jvm.dll"
printf '{ "main": [] }\n' >"$work/scenario.json"
for s in "${!stubs[@]}"; do
  build/out/shipkit-pack build --stub "${stubs[$s]}" --manifest demo/manifest.json \
    --out "$work/demo-installer-$s.exe" >/dev/null
  {
    echo "set TEMP=$(win "$work/temp")"
    echo "set TMP=$(win "$work/temp")"
    echo "set SHIPKIT_LOG=yes"
    echo "set FAKEJVM_SCENARIO=$(win "$work/scenario.json")"
    echo "set FAKEJVM_REPORT=$(win "$work/report.json")"
    echo "cmd \"$(win "$work/demo-installer-$s.exe")\" -q first second"
  } >"$work/run-$s.txt"
done

runOnce() {  # runOnce STUB NAME: one run of that stub's installer; its log is kept as logs/NAME.log
  rm -rf "$work/temp" && mkdir -p "$work/temp"
  wine build/out/testing/envrun.exe "$(win "$work/run-$1.txt")" </dev/null >/dev/null 2>&1 || true
  mv "$(ls "$work"/temp/skt_nlog_*.log | head -1)" "$work/logs/$2.log"
}
runOnce 0 warmup  # fills the version cache (the same java.exe path for every stub)
idle=()
for ((i = 1; i <= runs; i++)); do
  for s in "${!stubs[@]}"; do runOnce "$s" "$s-$i"; done
  start=$(date +%s%N)
  wine build/out/testing/envrun.exe </dev/null >/dev/null 2>&1 || true  # usage error: exits at once
  idle+=($((($(date +%s%N) - start) / 1000)))
done

python3 - "$work/logs" "$runs" "${#stubs[@]}" "${stubs[*]}" "${idle[@]}" <<'PY'
import re, statistics, sys
logs, runs, count, names = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4].split()
idle = [int(x) / 1000 for x in sys.argv[5:]]
# Phase boundaries: the first log line carrying each text (prefix match).
marks = [
    ("start (first log line)", "restrict DLL directories"),
    ("container read", "init file name"),
    ("start-up done", "Init done"),
    ("integrity verified", "checksums:"),
    ("extraction directory", "Temp dir3:"),
    ("payload extracted", "extracting files done"),
    ("runtime checked", "checkJavaExe returning"),
    ("loading jvm.dll", "Trying to load JVM-DLL from"),
    ("jvm.dll loaded", "Loading of JVM-DLL successful"),
    ("JNI_CreateJavaVM called", "Creating JVM"),
]
def report(stub, name):
    table = {mark: [] for mark, _ in marks}
    cached = 0
    for i in range(1, runs + 1):
        stamps = {}
        for line in open(f"{logs}/{stub}-{i}.log", encoding="utf-8-sig"):
            m = re.match(r"\[(\d+):(\d+)\] (.*)", line.rstrip("\r\n"))
            if not m: continue
            t, text = int(m.group(1)) * 1000 + int(m.group(2)), m.group(3)
            cached += text.startswith("got version from registry")
            for mark, prefix in marks:
                if mark not in stamps and text.startswith(prefix): stamps[mark] = t
        for mark, _ in marks:
            table[mark].append(stamps.get(mark))
    print(f"start-up of the demo installer with {name}: {runs} runs, version cache used in {cached} (ms: median time, median step)")
    prev = None
    for mark, _ in marks:
        values = table[mark]
        if None in values:
            print(f"  {mark:26s}      (not reached in every run)")
            continue
        step = "" if prev is None else f"  +{statistics.median([b - a for a, b in zip(table[prev], values)]):5.0f}"
        print(f"  {mark:26s} at {statistics.median(values):5.0f}{step}   (min {min(values)}, max {max(values)})")
        prev = mark
    total = table["JNI_CreateJavaVM called"]
    if None not in total:
        print(f"first log line to JNI_CreateJavaVM: median {statistics.median(total):.0f} ms, min {min(total)} ms")
        # Mapping jvm.dll is the runtime's cost (Wine reads every section of the file), not the launcher's.
        own = [t - (b - a) for t, a, b in zip(total, table["loading jvm.dll"], table["jvm.dll loaded"])]
        print(f"  of which the launcher's own work (without loading jvm.dll): median {statistics.median(own):.0f} ms, min {min(own)} ms")
for stub in range(count):
    report(stub, names[stub])
print(f"for context, a Wine process that does nothing (envrun.exe without arguments): median {statistics.median(idle):.0f} ms wall")
PY
