#!/bin/bash
# Builds both trees: the MinGW-w64 cross build (launcher, Windows tests, test doubles) and
# the native build (packer, portable-logic tests, fuzzers).
#   scripts/build.sh        everything
#   scripts/build.sh demo   only what the demo runs: the launcher, the packer, the stand-in
#                           java.exe, jvm.dll and splash library, envrun.exe. A later full
#                           build reuses these objects.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
type=${BUILD_TYPE:-RelWithDebInfo}
jobs=${JOBS:-$(nproc)}
what=${1:-all}
case $what in
  all) win_targets=(all) native_targets=(all) ;;
  demo) win_targets=(launcher fakejava jvm fakesplash envrun) native_targets=(shipkit-pack) ;;
  *) echo "usage: scripts/build.sh [demo]" >&2; exit 2 ;;
esac
# Work trees beside this one share cached objects: paths below the common parent are hashed
# relative to it.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$ROOT")} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
# The cache takes units compiled with a precompiled header only with this.
export CCACHE_SLOPPINESS=${CCACHE_SLOPPINESS:-pch_defines,time_macros}
# Configured every time (a second or two): the tests join the trees once GoogleTest is there.
cmake -S . -B build/win -G Ninja -DCMAKE_BUILD_TYPE="$type" \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
CC=clang CXX=clang++ cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE="$type" >/dev/null
# The two trees build side by side: neither waits on the other's last, serial steps (the
# final links), which would leave a core idle. The native tree's lines are marked.
cmake --build build/native -j "$jobs" --target "${native_targets[@]}" > >(sed -u 's/^/native: /') 2>&1 &
native=$!
status=0
cmake --build build/win -j "$jobs" --target "${win_targets[@]}" || status=$?
wait "$native" || status=$?
exit "$status"
