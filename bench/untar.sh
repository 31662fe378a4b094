#!/bin/bash
# Shipped-runtime unpacking: builds "jre.tar.gz" from a runtime-sized tree (the OpenJDK 17
# tree the build installs, links followed: about 275 MB of tar in 320 files) and from a tree
# of 4000 small files, ships each in an installer and measures under Wine, with a warm file
# cache, the launcher's untar step (from the diagnostic log's time stamps) next to GNU
# "tar -xzf" of the same archive on the same disk, in three alternating rounds (medians).
# Also prints the launcher's peak working set, which must not grow with the archive. Not part of the test run: scripts/build.sh first.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source scripts/wine-env.sh
scripts/wine-prefix.sh start  # left running: other Wine users of the prefix may need it
work=build/bench/untar
rm -rf "$work" && mkdir -p "$work"
win() { echo "Z:$(realpath "$1" | tr / '\\')"; }
jdk=${JDK_TREE:-/usr/lib/jvm/java-17-openjdk-amd64}

for kind in ${BENCH_KINDS:-jdk small}; do
  dir=$work/$kind
  mkdir -p "$dir/tree" "$dir/temp"
  if [[ $kind == jdk ]]; then
    # Links followed; a dangling link (lib/src.zip without the source package) is left out.
    { tar -C "$jdk" -chf - . 2>/dev/null || true; } | tar -C "$dir/tree" -xf -
  else
    # 4000 files of 1..16 KiB of fixed pseudo-random content (seeded) in 40 directories.
    python3 - "$dir/tree" <<'PY'
import os, random, sys
rng = random.Random(1)
for d in range(40):
    os.makedirs(f"{sys.argv[1]}/d{d}")
    for f in range(100):
        with open(f"{sys.argv[1]}/d{d}/f{f}.bin", "wb") as out:
            out.write(rng.randbytes(rng.randint(1, 16) * 1024))
PY
  fi
  tar -C "$dir/tree" -czf "$dir/jre.tar.gz" .
  tarsize=$(gzip -dc "$dir/jre.tar.gz" | wc -c)
  files=$(find "$dir/tree" -type f | wc -l)
  cat >"$dir/manifest.json" <<JSON
{ "checksum": false,
  "config": { "107": "0", "2001": "i", "151": "$tarsize" },
  "messages": { "1000": "Error" },
  "files": [ { "name": "jre.tar.gz", "source": "jre.tar.gz" } ] }
JSON
  build/out/shipkit-pack build --stub build/out/launcher.exe --manifest "$dir/manifest.json" --out "$dir/setup.exe" >/dev/null
  rm -rf "$dir/tree"
  cat "$dir/setup.exe" "$dir/jre.tar.gz" >/dev/null  # warm the file cache
  {
    echo "set TEMP=$(win "$dir/temp")"
    echo "set TMP=$(win "$dir/temp")"
    echo "set SHIPKIT_LOG=yes"
    echo "stats $(win "$dir/stats.txt")"
    echo "cmd \"$(win "$dir/setup.exe")\" -q"
  } >"$dir/run.txt"
  # Rounds alternate the launcher and GNU tar. Each starts on a settled disk: the launcher
  # removes its extraction directory when it ends, and writing back or deleting thousands of
  # files in the background would slow whichever step runs next.
  settle() {
    for _ in $(seq 1 300); do
      compgen -G "$dir/temp/*/" >/dev/null || break
      sleep 0.1
    done
    sync
    sleep 1
  }
  results=() floor=()
  for round in 1 2 3; do
    rm -rf "$dir/temp" "$dir/ref" && mkdir -p "$dir/temp" "$dir/ref"
    settle
    # The archive holds no Windows runtime: the run ends after the untar step.
    wine build/out/testing/envrun.exe "$(win "$dir/run.txt")" </dev/null >/dev/null 2>&1 || true
    log=$(ls "$dir"/temp/skt_nlog_*.log | head -1)
    settle
    # Timed like the launcher's step: until the files are written, not flushed to the disk.
    start=$(date +%s%N)
    tar -C "$dir/ref" -xzf "$dir/jre.tar.gz"
    results+=("$dir/launcher-$round.log" "$((($(date +%s%N) - start) / 1000000))")
    cp "$log" "$dir/launcher-$round.log"
    # The same directories and files made under Wine by bare Win32 calls: what creating
    # them costs there before any archive is read.
    if [[ ! -f $dir/files.txt ]]; then
      (cd "$dir/ref" && find . -mindepth 1 -type d -printf '0 %P/\n' | sort && find . -type f -printf '%s %P\n') |
        tr / '\\' >"$dir/files.txt"
    fi
    rm -rf "$dir/floor" && mkdir -p "$dir/floor"
    settle
    list=$(win "$dir/files.txt")
    floor+=("$(cd "$dir/floor" && wine "$ROOT/build/out/bench/bench_create_files.exe" "$list" </dev/null 2>/dev/null | tr -d '\r')")
  done
  python3 - "$tarsize" "$files" "$dir/stats.txt" "$kind" "${floor[*]}" "${results[@]}" <<'PY'
import re, statistics, sys
size, files, stats, kind = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
floor = [int(x) for x in sys.argv[5].split()]
rounds = list(zip(sys.argv[6::2], map(int, sys.argv[7::2])))
launcher, reference = [], []
for log, ref_ms in rounds:
    stamps = {}
    for line in open(log, encoding="utf-8-sig"):
        m = re.match(r"\[(\d+):(\d+)\] (.*)", line)
        if m and m.group(3) in ("extracting JRE", "untaring JRE was successful"):
            stamps.setdefault(m.group(3), int(m.group(1)) * 1000 + int(m.group(2)))
    if "untaring JRE was successful" not in stamps:
        sys.exit(f"{kind}: the launcher's untar step did not succeed, see {log}")
    launcher.append(max(1, stamps["untaring JRE was successful"] - stamps["extracting JRE"]))
    reference.append(max(1, ref_ms))
peak = int(open(stats).read().split("=")[1])
ms, ref = statistics.median(launcher), statistics.median(reference)
print(f"{kind}: {size / 1e6:.0f} MB of tar in {files} files, launcher peak working set {peak / (1 << 20):.1f} MiB")
print(f"  rounds (launcher / GNU tar ms): {', '.join(f'{a}/{b}' for a, b in zip(launcher, reference))}")
print(f"  median: launcher untar {ms:.0f} ms ({size / 1e6 / (ms / 1000):.0f} MB/s) | GNU tar -xzf {ref:.0f} ms, ratio {ms / ref:.2f}x")
print(f"  bare file creation under Wine (same files, no archive): {', '.join(map(str, floor))} ms, median {statistics.median(floor):.0f} ms")
PY
done
