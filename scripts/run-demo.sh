#!/usr/bin/env bash
# The library's story on a throwaway Wine prefix of its own: two products
# installed by their NSIS installers, inspected, removed through the
# uninstaller host, and inspected again.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$PWD/build
mkdir -p "$build/examples"
nsi=examples/nsis/qmis-sample.nsi
makensis -V1 "-X!addincludedir $PWD/include" -DQMIS_DLL="$build/bin/QMIS.dll" -DOUT_FILE="$build/examples/qmis-sample-setup.exe" \
  -DWITH_DEPENDENT "$nsi"
makensis -V1 "-X!addincludedir $PWD/include" -DQMIS_DLL="$build/bin/QMIS.dll" -DOUT_FILE="$build/examples/qmis-viewer-setup.exe" \
  -DPRODUCT="QMIS Sample Viewer" -DHANDLER_NAME=QuillmoorQMISSampleViewer -DBITS=2 -DNO_SHELL "$nsi"

bash scripts/wine-session.sh start "$build" demo >/dev/null
trap 'bash scripts/wine-session.sh stop "$build" demo >/dev/null' EXIT
export WINEPREFIX=$build/wine/demo WINEDEBUG=-all
wine "$build/bin/qmis-demo.exe" "$build/examples/qmis-sample-setup.exe" "$build/examples/qmis-viewer-setup.exe"
echo
echo "6. What qmis-inspect finds afterwards (it reads, never writes):"
wine "$build/bin/qmis-inspect.exe" | sed 's/^/   /'
