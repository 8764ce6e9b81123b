#!/usr/bin/env bash
# Runs a Windows program under Wine in the prefix named by WINEPREFIX (the
# tests set it to the build tree's run prefix). Used as CMake's emulator.
set -eu
: "${WINEPREFIX:?wine-run.sh needs WINEPREFIX}"
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
