#!/bin/bash
# Installs what is missing on a fresh Debian 12 machine (run as root); quick when everything
# is already there.
#   scripts/deps.sh demo   what the demo builds and runs: the launcher, the packer, the test
#                          doubles it uses, Wine
#   scripts/deps.sh        all that the tests need as well (GoogleTest, the locales of the
#                          language tests, icoutils)
#   scripts/deps.sh --list [demo]   prints the package names and installs nothing
set -euo pipefail
list=no
[[ ${1:-} == --list ]] && { list=yes; shift; }
set_name=${1:-test}
demo_pkgs=(cmake ninja-build clang libclang-rt-14-dev nlohmann-json3-dev zlib1g-dev
           g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
           libz-mingw-w64-dev wine wine64 python3 openjdk-17-jdk-headless ccache
           libssl-dev)
test_pkgs=(g++ googletest libgtest-dev xvfb xauth locales icoutils
           libarchive-tools osslsigncode openssl)
case $set_name in
  demo) pkgs=("${demo_pkgs[@]}") ;;
  test) pkgs=("${demo_pkgs[@]}" "${test_pkgs[@]}") ;;
  *) echo "usage: scripts/deps.sh [--list] [demo|test]" >&2; exit 2 ;;
esac
if [[ $list == yes ]]; then
  printf '%s\n' "${pkgs[@]}"
  exit 0
fi
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
[[ $set_name == test ]] || exit 0
# The language tests run Wine as users of these locales; Wine honours a locale only when
# it exists on the Linux side.
for loc in de_CH de_DE es_US; do
  if ! locale -a 2>/dev/null | grep -qi "^$loc.utf8\$"; then
    localedef -i "$loc" -f UTF-8 "$loc.UTF-8"
  fi
done
