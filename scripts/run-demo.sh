#!/usr/bin/env bash
# Runs the demo in a throwaway Wine prefix of its own, then stops its server.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$PWD/build
bash scripts/wine-session.sh start "$build" demo >/dev/null
trap 'bash scripts/wine-session.sh stop "$build" demo >/dev/null' EXIT
WINEPREFIX=$build/wine/demo WINEDEBUG=-all wine "$build/bin/qmis-demo.exe"
