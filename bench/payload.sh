#!/bin/bash
# Payload throughput: builds installers with 64 MiB and 256 MiB of payload files and
# measures, under Wine with a warm file cache, integrity verification and extraction in
# MB/s (from the diagnostic log's time stamps) next to native references over the same
# bytes (a zlib crc32 pass; a read-unmask-write copy). Each round runs the launcher and then
# the references under the same conditions: outputs of the previous round removed, dirty
# pages written back, then SETTLE seconds (default 10) of waiting before each side. The wait
# matters on virtual machines that hand freed memory back to their host (virtio-balloon
# free page reporting, starting 2 s after memory is freed): a file written into memory the
# host has taken back costs several times more, and a launcher run reaches its extraction
# only after start-up and verification, so without the wait the native copy, started at
# once, would get recently freed memory that the launcher no longer gets. After the wait
# both sides write into memory taken back by the host. The figures are medians over the
# rounds, so that a busy machine skews both sides alike. Also prints the launcher's peak
# working set, which must not grow with the payload. Not part of the test run:
# scripts/build.sh first.
#   [SETTLE=s] [STUB=launcher.exe] bench/payload.sh [rounds]      (default 5 rounds; STUB
#   measures a launcher stub other than this tree's, for example one of an earlier commit)
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source scripts/wine-env.sh
scripts/wine-prefix.sh start  # left running: other Wine users of the prefix may need it
rounds=${1:-5}
stub=${STUB:-build/out/launcher.exe}
work=build/bench/payload
rm -rf "$work" && mkdir -p "$work"
win() { echo "Z:$(realpath "$1" | tr / '\\')"; }
settle=${SETTLE:-10}

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
  build/out/shipkit-pack build --stub "$stub" --manifest "$dir/manifest.json" --out "$dir/setup.exe" >/dev/null
  cat "$dir/setup.exe" "$dir"/src/* >/dev/null  # warm the file cache
  {
    echo "set TEMP=$(win "$dir/temp")"
    echo "set TMP=$(win "$dir/temp")"
    echo "set SHIPKIT_LOG=yes"
    echo "stats $(win "$dir/stats.txt")"
    echo "cmd \"$(win "$dir/setup.exe")\" -q -manual"
  } >"$dir/run.txt"
  : >"$dir/rounds.txt"
  for ((r = 1; r <= rounds; r++)); do
    rm -rf "$dir/temp" "$dir/ref" && mkdir -p "$dir/temp" "$dir/ref" && sync && sleep "$settle"
    wine build/out/testing/envrun.exe "$(win "$dir/run.txt")" </dev/null >/dev/null 2>&1 || true
    log=$dir/round.log
    cp "$(ls "$dir"/temp/skt_nlog_*.log | head -1)" "$log"
    peak=$(sed 's/.*=//' "$dir/stats.txt")
    rm -rf "$dir/temp" && sync && sleep "$settle"
    crc_ms=$(build/out/bench/payload_ref crc "$dir/setup.exe" 2>/dev/null)
    copy_ms=$(build/out/bench/payload_ref copy "$dir/ref" "$dir"/src/part*.bin)
    python3 - "$log" "$crc_ms" "$copy_ms" "$peak" >>"$dir/rounds.txt" <<'PY'
import re, sys
stamps = {}
for line in open(sys.argv[1], encoding="utf-8-sig"):
    m = re.match(r"\[(\d+):(\d+)\] (.*)", line.rstrip("\r\n"))
    if not m: continue
    t, text = int(m.group(1)) * 1000 + int(m.group(2)), m.group(3)
    for key in ("verifying integrity length", "checksums:", "extracting files done"):
        if text.startswith(key): stamps.setdefault(key, t)
    if text == "extracting files": stamps.setdefault(text, t)
verify = max(1, stamps["checksums:"] - stamps["verifying integrity length"])
extract = max(1, stamps["extracting files done"] - stamps["extracting files"])
print(verify, extract, sys.argv[2], sys.argv[3], sys.argv[4])
PY
  done
  python3 - "$dir/rounds.txt" "$(stat -c %s "$dir/setup.exe")" "$mib" <<'PY'
import statistics, sys
rows = [list(map(float, l.split())) for l in open(sys.argv[1]) if l.strip()]
size, mib = int(sys.argv[2]), int(sys.argv[3])
verify, extract, crc, copy, peak = (statistics.median(col) for col in zip(*rows))
ratio = lambda i, j: statistics.median(r[i] / r[j] for r in rows)
mbs = lambda n, ms: n / (1 << 20) / (ms / 1000)
print(f"payload {mib} MiB, {len(rows)} rounds (medians), peak working set {max(r[4] for r in rows) / (1 << 20):.1f} MiB")
print(f"  verify  {mbs(size, verify):7.1f} MB/s | native zlib crc32        {mbs(size, crc):7.1f} MB/s | ratio {verify / crc:4.2f}x"
      f" (median of rounds {ratio(0, 2):4.2f}x)")
print(f"  extract {mbs(mib << 20, extract):7.1f} MB/s | native read-unmask-write {mbs(mib << 20, copy):7.1f} MB/s | ratio {extract / copy:4.2f}x"
      f" (median of rounds {ratio(1, 3):4.2f}x)")
PY
done
