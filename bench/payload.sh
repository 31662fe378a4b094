#!/bin/bash
# Payload throughput: builds installers with 64 MiB and 256 MiB of payload files and
# measures, under Wine with a warm file cache, integrity verification and extraction in
# MB/s (from the diagnostic log's time stamps) next to native references over the same
# bytes (cksum and a zlib crc32 pass; cp). Also prints the launcher's peak working set,
# which must not grow with the payload. Not part of the test run: scripts/build.sh first.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source scripts/wine-env.sh
scripts/wine-prefix.sh start  # left running: other Wine users of the prefix may need it
work=build/bench/payload
rm -rf "$work" && mkdir -p "$work"
win() { echo "Z:$(realpath "$1" | tr / '\\')"; }

for mib in 64 256; do
  dir=$work/$mib
  mkdir -p "$dir/src" "$dir/temp"
  # Four files of fixed pseudo-random content (seeded), a quarter of the payload each.
  python3 - "$dir/src" "$mib" <<'PY'
import random, sys
out, mib = sys.argv[1], int(sys.argv[2])
rng = random.Random(1)
for i in range(4):
    with open(f"{out}/part{i}.bin", "wb") as f:
        for _ in range(mib // 4):
            f.write(rng.randbytes(1 << 20))
PY
  cat >"$dir/manifest.json" <<JSON
{ "checksum": true,
  "config": { "107": "0", "2001": "i" },
  "messages": { "1000": "Error" },
  "files": [ { "name": "part0.bin", "source": "src/part0.bin" }, { "name": "part1.bin", "source": "src/part1.bin" },
             { "name": "part2.bin", "source": "src/part2.bin" }, { "name": "part3.bin", "source": "src/part3.bin" } ] }
JSON
  build/out/shipkit-pack build --stub build/out/launcher.exe --manifest "$dir/manifest.json" --out "$dir/setup.exe" >/dev/null
  cat "$dir/setup.exe" "$dir"/src/* >/dev/null  # warm the file cache
  sync
  {
    echo "set TEMP=$(win "$dir/temp")"
    echo "set TMP=$(win "$dir/temp")"
    echo "set SHIPKIT_LOG=yes"
    echo "stats $(win "$dir/stats.txt")"
    echo "cmd \"$(win "$dir/setup.exe")\" -q -manual"
  } >"$dir/run.txt"
  wine build/out/testing/envrun.exe "$(win "$dir/run.txt")" </dev/null >/dev/null 2>&1 || true
  sync
  log=$(ls "$dir"/temp/skt_nlog_*.log | head -1)
  crc_ms=$(build/out/bench/payload_ref crc "$dir/setup.exe" 2>/dev/null)
  mkdir -p "$dir/ref" && sync
  copy_ms=$(build/out/bench/payload_ref copy "$dir/ref" "$dir"/src/part*.bin)
  sync
  bytes=$(stat -c %s "$dir/setup.exe")
  python3 - "$log" "$bytes" "$dir" "$mib" "$crc_ms" "$copy_ms" <<'PY'
import re, subprocess, sys, time, zlib, os, shutil
log, size, d, mib = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
ref_crc_ms, ref_copy_ms = float(sys.argv[5]), float(sys.argv[6])
stamps = {}
for line in open(log, encoding="utf-8-sig"):
    m = re.match(r"\[(\d+):(\d+)\] (.*)", line)
    if not m: continue
    t = int(m.group(1)) * 1000 + int(m.group(2))
    text = m.group(3)
    for key in ("verifying integrity length", "checksums:", "extracting files", "extracting files done"):
        if text.startswith(key) and key not in stamps:
            if key == "extracting files" and text != "extracting files": continue
            stamps[key] = t
verify_ms = max(1, stamps["checksums:"] - stamps["verifying integrity length"])
extract_ms = max(1, stamps["extracting files done"] - stamps["extracting files"])
payload = mib << 20
def timed(fn):
    t = time.perf_counter(); fn(); return (time.perf_counter() - t) * 1000
exe = f"{d}/setup.exe"
cksum_ms = timed(lambda: subprocess.run(["cksum", exe], stdout=subprocess.DEVNULL, check=True))
subprocess.run(["sync"])
cp_ms = timed(lambda: subprocess.run(["cp", "-r", f"{d}/src", f"{d}/cpref"], check=True))
peak = int(open(f"{d}/stats.txt").read().split("=")[1])
mbs = lambda n, ms: n / (1 << 20) / (ms / 1000)
print(f"payload {mib} MiB, peak working set {peak / (1 << 20):.1f} MiB")
print(f"  verify  {mbs(size, verify_ms):7.1f} MB/s | native zlib crc32 {mbs(size, ref_crc_ms):7.1f} MB/s, ratio {verify_ms / ref_crc_ms:4.2f}x"
      f" | cksum {mbs(size, cksum_ms):7.1f} MB/s, ratio {verify_ms / cksum_ms:4.2f}x")
print(f"  extract {mbs(payload, extract_ms):7.1f} MB/s | native read-unmask-write {mbs(payload, ref_copy_ms):7.1f} MB/s, ratio {extract_ms / ref_copy_ms:4.2f}x"
      f" | cp {mbs(payload, cp_ms):7.1f} MB/s, ratio {extract_ms / cp_ms:4.2f}x")
PY
done
