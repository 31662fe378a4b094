#!/bin/bash
# Installs what building and testing need on a fresh Debian 12 machine (run as root).
# Quick when everything is already there.
set -euo pipefail
pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev nlohmann-json3-dev
      zlib1g-dev g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
      libz-mingw-w64-dev wine wine64 xvfb xauth locales python3 openjdk-17-jdk-headless ccache
      icoutils libarchive-tools libssl-dev osslsigncode openssl)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# The language tests run Wine as users of these locales; Wine honours a locale only when
# it exists on the Linux side.
for loc in de_CH de_DE es_US; do
  if ! locale -a 2>/dev/null | grep -qi "^$loc.utf8\$"; then
    localedef -i "$loc" -f UTF-8 "$loc.UTF-8"
  fi
done
