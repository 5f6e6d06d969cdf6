#!/usr/bin/env bash
# Usage: wine-run.sh PREFIX PROGRAM.exe [ARGS...]
# Runs a Windows program under Wine in the given prefix (the build folder's
# own, made by tools/make-wine-prefix.sh). TOLVIN_WINEPREFIX, when set,
# overrides it for tests that need a throwaway prefix.
set -euo pipefail
prefix=${TOLVIN_WINEPREFIX:-$1}
shift
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
# Never offer to download Mono or Gecko.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec wine "$@"
