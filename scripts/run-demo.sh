#!/usr/bin/env bash
# Runs the demo in a throwaway Wine prefix of its own, then stops its server.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$PWD/build
bash scripts/wine-session.sh start "$build" demo >/dev/null
trap 'bash scripts/wine-session.sh stop "$build" demo >/dev/null' EXIT
export WINEPREFIX=$build/wine/demo WINEDEBUG=-all
wine "$build/bin/qmis-demo.exe"
echo
echo "6. What qmis-inspect finds afterwards (it reads, never writes):"
wine "$build/bin/qmis-inspect.exe" | sed 's/^/   /'

