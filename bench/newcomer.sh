#!/bin/bash
# A newcomer's first command, timed: scripts/demo.sh on a fresh clone of this repository's
# HEAD (or REV=...) in a temporary directory, with the compiler cache off (CCACHE_DISABLE=1)
# so that the build is cold. Prints, each with the machine's load:
#   packages  the demo's packages and the dependencies a minimal Debian 12 lacks, fetched
#             with "apt-get download" into a temporary directory (the mirror's speed), and
#             unpacked there with "dpkg-deb -x" (a floor under the installation's time). The
#             packages installed on this machine are left alone; SKIP_DOWNLOAD=1 skips this.
#   build     scripts/build.sh demo in the clone (JOBS, default 2)
#   run       the rest of scripts/demo.sh: the Wine prefix, packing, the run, the report
# and how much of a full build (scripts/test.sh) the demo's build leaves to do.
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
rev=$(git -C "$ROOT" rev-parse "${REV:-HEAD}") || exit 1
work=$(mktemp -d /tmp/shipkit-newcomer.XXXXXX)
trap 'rm -rf "$work"' EXIT
load() { echo "  load: $(uptime | sed 's/.*load average: /load average /') on $(nproc) cores"; }

echo "== packages (scripts/deps.sh demo)"
if [[ ${SKIP_DOWNLOAD:-} == 1 ]]; then
  echo "  skipped (SKIP_DOWNLOAD=1)"
else
  # A minimal Debian 12: the packages of priority required and important installed here, with
  # what they depend on. apt-get resolves the demo's packages against it as on a fresh machine.
  python3 - >"$work/status" <<'PY'
import re
paras = [p for p in open('/var/lib/dpkg/status').read().split('\n\n') if 'install ok installed' in p]
pkgs, provides = {}, {}
for p in paras:
    name = re.search(r'^Package: (\S+)$', p, re.M).group(1)
    pkgs.setdefault(name, p)
    m = re.search(r'^Provides: (.*)$', p, re.M)
    for virtual in (m.group(1).split(',') if m else []):
        provides.setdefault(virtual.split()[0], name)
keep = {n for n, p in pkgs.items() if re.search(r'^(Priority: (required|important)|Essential: yes)$', p, re.M)}
todo = list(keep)
while todo:
    for field in re.findall(r'^(?:Pre-)?Depends: (.*)$', pkgs[todo.pop()], re.M):
        for dep in field.split(','):
            for alt in dep.split('|'):
                d = alt.split()[0].split(':')[0]
                d = d if d in pkgs else provides.get(d)
                if d:
                    if d not in keep:
                        keep.add(d)
                        todo.append(d)
                    break
print('\n\n'.join(pkgs[n].strip() for n in sorted(keep)))
PY
  mapfile -t wanted < <("$ROOT/scripts/deps.sh" --list demo)
  mapfile -t fetch < <(apt-get -s -o Dir::State::status="$work/status" install --no-install-recommends \
                         "${wanted[@]}" 2>/dev/null | sed -n 's/^Inst \([^ ]*\) (\([^ ]*\) .*/\1=\2/p')
  echo "  ${#wanted[@]} named packages; with what a minimal Debian 12 ($(grep -c '^Package:' "$work/status") packages) lacks: ${#fetch[@]}"
  mkdir -p "$work/debs" "$work/unpacked"
  start=$(date +%s.%N)
  (cd "$work/debs" && apt-get download -qq "${fetch[@]}" >/dev/null 2>&1)
  mid=$(date +%s.%N)
  for deb in "$work"/debs/*.deb; do dpkg-deb -x "$deb" "$work/unpacked"; done
  end=$(date +%s.%N)
  mb=$(du -sm "$work/debs" | cut -f1)
  echo "  download: $(ls "$work"/debs/*.deb | wc -l) files, $mb MB in $(awk "BEGIN{printf \"%.0f\", $mid - $start}") s (apt-get download from $(apt-get download --print-uris -qq "${fetch[0]}" 2>/dev/null | sed "s|^'\([a-z]*://[^/]*\).*|\1|"))"
  echo "  unpack:   $(du -sm "$work/unpacked" | cut -f1) MB in $(awk "BEGIN{printf \"%.0f\", $end - $mid}") s (dpkg-deb -x; an installation also configures)"
  load
  rm -rf "$work/debs" "$work/unpacked"
fi

echo "== fresh clone of ${rev:0:12}"
git clone -q "$ROOT" "$work/shipkit" && git -C "$work/shipkit" checkout -q "$rev" || exit 1
echo "== scripts/demo.sh (CCACHE_DISABLE=1, JOBS=${JOBS:-2})"
load
start=$SECONDS
(cd "$work/shipkit" && CCACHE_DISABLE=1 JOBS=${JOBS:-2} scripts/demo.sh) >"$work/demo.log" 2>&1
code=$?
total=$((SECONDS - start))
load
grep -E '^exit code:' "$work/demo.log" | sed 's/^/  installer /'
phases=$(grep '^== demo phases:' "$work/demo.log" | sed 's/^== demo phases: //')
if ((code != 0)) || [[ -z $phases ]]; then
  echo "  demo.sh failed (exit $code):"; tail -20 "$work/demo.log"; exit 1
fi
echo "  phases: $phases"
echo "  demo.sh in total: $total s (packages already installed)"

echo "== what a full build (scripts/test.sh) has left to do after the demo"
cd "$work/shipkit"
for tree in win native; do
  # The objects of the full build's graph (ninja's dry run would stop at the glob re-check).
  built=0 todo=0
  while read -r obj; do
    if [[ -e build/$tree/$obj ]]; then ((built++)); else ((todo++)); fi
  done < <(ninja -C "build/$tree" -t targets all 2>/dev/null | sed -n 's/^\([^:]*\.o\(bj\)\?\): .*/\1/p')
  echo "  build/$tree: $built objects built by the demo, $todo left for scripts/test.sh"
done
