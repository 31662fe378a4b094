#!/bin/bash
# Builds both trees: the MinGW-w64 cross build (launcher, Windows tests, test doubles) and
# the native build (packer, portable-logic tests, fuzzers).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
type=${BUILD_TYPE:-RelWithDebInfo}
jobs=${JOBS:-$(nproc)}
# Work trees beside this one share cached objects: paths below the common parent are hashed
# relative to it.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$ROOT")} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
if [[ ! -f build/win/build.ninja ]]; then
  cmake -S . -B build/win -G Ninja -DCMAKE_BUILD_TYPE="$type" \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
fi
if [[ ! -f build/native/build.ninja ]]; then
  CC=clang CXX=clang++ cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE="$type" >/dev/null
fi
cmake --build build/win -j "$jobs"
cmake --build build/native -j "$jobs"
