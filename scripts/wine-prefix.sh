#!/bin/bash
# Creates the build tree's Wine prefix once and configures it for unattended runs:
# crashes exit at once instead of opening winedbg, windows use the null display driver.
# With "start", also starts a persistent wineserver with its output detached (so ctest
# does not wait for Wine's background processes); "stop" ends it.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
cmd=${1:-create}
if [[ $cmd == stop ]]; then
  wineserver -k </dev/null >/dev/null 2>&1 || true
  exit 0
fi
if [[ ! -f $WINEPREFIX/.shipkit-ready ]]; then
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  wineboot -i </dev/null >/dev/null 2>&1
  reg() { wine reg add "$@" /f </dev/null >/dev/null 2>&1; }
  reg 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
  reg 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null
  wineserver -w </dev/null >/dev/null 2>&1 || true
  touch "$WINEPREFIX/.shipkit-ready"
fi
if [[ $cmd == start ]]; then
  # Warm the server: background Wine processes inherit whatever output they see now.
  wineserver -p </dev/null >/dev/null 2>&1 || true  # already running is fine
  wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
fi
