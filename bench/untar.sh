#!/bin/bash
# Shipped-runtime unpacking: builds "jre.tar.gz" from a runtime-sized tree (the OpenJDK 17
# tree the build installs, links followed: about 275 MB of tar in 320 files) and from a tree
# of 4000 small files, ships each in an installer and measures under Wine, with a warm file
# cache, the launcher's untar step (from the diagnostic log's time stamps) next to GNU
# "tar -xzf" of the same archive on the same disk. Also prints the launcher's peak working
# set, which must not grow with the archive. Not part of the test run: scripts/build.sh first.
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
  sync
  {
    echo "set TEMP=$(win "$dir/temp")"
    echo "set TMP=$(win "$dir/temp")"
    echo "set SHIPKIT_LOG=yes"
    echo "stats $(win "$dir/stats.txt")"
    echo "cmd \"$(win "$dir/setup.exe")\" -q"
  } >"$dir/run.txt"
  # The archive holds no Windows runtime: the run ends after the untar step.
  wine build/out/testing/envrun.exe "$(win "$dir/run.txt")" </dev/null >/dev/null 2>&1 || true
  sync
  log=$(ls "$dir"/temp/skt_nlog_*.log | head -1)
  mkdir -p "$dir/ref"
  sync
  # Timed like the launcher's step: until the files are written, not flushed to the disk.
  start=$(date +%s%N)
  tar -C "$dir/ref" -xzf "$dir/jre.tar.gz"
  ref_ms=$((($(date +%s%N) - start) / 1000000))
  python3 - "$log" "$tarsize" "$files" "$ref_ms" "$dir/stats.txt" "$kind" <<'PY'
import re, sys
log, size, files, ref_ms, stats, kind = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5], sys.argv[6]
stamps = {}
for line in open(log, encoding="utf-8-sig"):
    m = re.match(r"\[(\d+):(\d+)\] (.*)", line)
    if m and m.group(3) in ("extracting JRE", "untaring JRE was successful"):
        stamps.setdefault(m.group(3), int(m.group(1)) * 1000 + int(m.group(2)))
if "untaring JRE was successful" not in stamps:
    sys.exit(f"{kind}: the launcher's untar step did not succeed, see {log}")
ms = max(1, stamps["untaring JRE was successful"] - stamps["extracting JRE"])
peak = int(open(stats).read().split("=")[1])
print(f"{kind}: {size / 1e6:.0f} MB of tar in {files} files, launcher peak working set {peak / (1 << 20):.1f} MiB")
print(f"  launcher untar {ms} ms ({size / 1e6 / (ms / 1000):.0f} MB/s) | GNU tar -xzf {ref_ms} ms, ratio {ms / max(1, ref_ms):.2f}x")
PY
done
