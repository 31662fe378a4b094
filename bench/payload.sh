#!/bin/bash
# Payload throughput: builds installers with 64 MiB and 256 MiB of payload files and
# measures, under Wine with a warm file cache, integrity verification and extraction in
# MB/s (from the diagnostic log's time stamps) next to native references over the same
# bytes (a zlib crc32 pass; a read-unmask-write copy) and next to the same copy done by a
# bare ReadFile/WriteFile loop under Wine (bench_bare_copy.exe: the floor Wine sets, so that
# one sees what of a gap is Wine's and what is the launcher's). Each round runs the three
# sides, in alternating order, under the same conditions: outputs of the previous side
# removed, dirty pages written back, then SETTLE seconds (default 10) of waiting before
# each. The wait matters on virtual machines that hand freed memory back to their host
# (virtio-balloon free page reporting, starting 2 s after memory is freed): a file written
# into memory the host has taken back costs several times more, and a launcher run reaches
# its extraction only after start-up and verification, so without the wait the native copy,
# started at once, would get recently freed memory that the launcher no longer gets. After
# the wait all sides write into memory taken back by the host. Every round is printed with
# the load average; the summary gives medians over the rounds (a busy machine skews all
# sides alike) and the ratio of the fastest rounds (the least disturbed ones). Also prints
# the launcher's peak working set, which must not grow with the payload. Not part of the
# test run: scripts/build.sh first.
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
  srcs=()
  for f in "$dir"/src/part*.bin; do srcs+=("$(win "$f")"); done
  fresh() { rm -rf "$dir/temp" "$dir/ref" "$dir/bare" && mkdir -p "$dir/temp" "$dir/ref" "$dir/bare" && sync && sleep "$settle"; }
  launcher() {
    fresh
    wine build/out/testing/envrun.exe "$(win "$dir/run.txt")" </dev/null >/dev/null 2>&1 || true
    cp "$(ls "$dir"/temp/skt_nlog_*.log | head -1)" "$dir/round.log"
    peak=$(sed 's/.*=//' "$dir/stats.txt")
  }
  bare() {
    fresh
    bare_ms=$(wine build/out/bench/bench_bare_copy.exe "$(win "$dir/bare")" "${srcs[@]}" </dev/null 2>/dev/null | tr -d '\r')
  }
  native() {
    fresh
    crc_ms=$(build/out/bench/payload_ref crc "$dir/setup.exe" 2>/dev/null)
    copy_ms=$(build/out/bench/payload_ref copy "$dir/ref" "$dir"/src/part*.bin)
  }
  for ((r = 1; r <= rounds; r++)); do
    # Alternate the order, so that neither side always runs first after the previous round.
    if ((r % 2)); then launcher; bare; native; else native; bare; launcher; fi
    python3 - "$dir/round.log" "$crc_ms" "$copy_ms" "$peak" "$bare_ms" "$(cut -d' ' -f1 /proc/loadavg)" \
      >>"$dir/rounds.txt" <<'PY'
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
print(verify, extract, *sys.argv[2:7])
PY
    tail -1 "$dir/rounds.txt" | awk -v mib="$mib" -v r="$r" \
      '{printf "  %d MiB round %d: extract %s ms | bare Win32 loop %s ms | native copy %s ms | verify %s ms, crc32 %s ms | load %s\n", mib, r, $2, $6, $4, $1, $3, $7}'
  done
  python3 - "$dir/rounds.txt" "$(stat -c %s "$dir/setup.exe")" "$mib" <<'PY'
import statistics, sys
rows = [list(map(float, l.split())) for l in open(sys.argv[1]) if l.strip()]
size, mib = int(sys.argv[2]), int(sys.argv[3])
verify, extract, crc, copy, peak, bare, load = (statistics.median(col) for col in zip(*rows))
fast = [min(col) for col in zip(*rows)]
mbs = lambda n, ms: n / (1 << 20) / (ms / 1000)
print(f"payload {mib} MiB, {len(rows)} rounds, peak working set {max(r[4] for r in rows) / (1 << 20):.1f} MiB,"
      f" load {min(r[6] for r in rows):.2f}..{max(r[6] for r in rows):.2f}")
print(f"  verify  {mbs(size, verify):7.1f} MB/s | native zlib crc32        {mbs(size, crc):7.1f} MB/s |"
      f" median {verify / crc:4.2f}x, fastest rounds {fast[0]:.0f} vs {fast[2]:.0f} ms = {fast[0] / fast[2]:4.2f}x")
print(f"  extract {mbs(mib << 20, extract):7.1f} MB/s | native read-unmask-write {mbs(mib << 20, copy):7.1f} MB/s |"
      f" median {extract / copy:4.2f}x, fastest rounds {fast[1]:.0f} vs {fast[3]:.0f} ms = {fast[1] / fast[3]:4.2f}x")
print(f"  bare Win32 ReadFile/WriteFile loop under Wine {mbs(mib << 20, bare):7.1f} MB/s |"
      f" vs native: median {bare / copy:4.2f}x, fastest {fast[5]:.0f} vs {fast[3]:.0f} ms = {fast[5] / fast[3]:4.2f}x |"
      f" extract vs bare: median {extract / bare:4.2f}x, fastest {fast[1] / fast[5]:4.2f}x")
PY
done
