#!/bin/bash
# Runs every test: installs what is missing, builds both trees (reusing what scripts/demo.sh
# built), then runs the native tests (portable logic, packer, end-to-end under Wine, short
# fuzz runs) and the Windows tests (under Wine). Ends with one "N passed, N failed" line.
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
scripts/deps.sh || exit 1
scripts/build.sh || exit 1
scripts/wine-prefix.sh start || exit 1
trap 'scripts/wine-prefix.sh stop' EXIT

passed=0 failed=0 status=0
run_ctest() {
  local log
  log=$(mktemp)
  # No test takes more than seconds; a hung one fails after five minutes instead of stalling the run.
  ctest --test-dir "$1" -j "$(nproc)" --timeout 300 --output-on-failure 2>&1 | tee "$log"
  [[ ${PIPESTATUS[0]} -eq 0 ]] || status=1
  local line
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [[ $line =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
    failed=$((failed + BASH_REMATCH[1]))
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  else
    status=1
  fi
  rm -f "$log"
}
run_ctest build/native
run_ctest build/win
echo "shipkit: $passed passed, $failed failed"
exit $status
