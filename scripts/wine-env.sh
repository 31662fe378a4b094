# Sourced by the scripts that run Windows programs: one Wine prefix per build tree,
# no Mono/Gecko prompts, quiet debug channels, no proxy for loopback tests.
ROOT=${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX=${WINEPREFIX:-$ROOT/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY DISPLAY
