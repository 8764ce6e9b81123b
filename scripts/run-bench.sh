#!/usr/bin/env bash
# Runs the benchmarks in a Wine prefix of their own; `du -sb` on the host
# gives the directory tree's size for scale.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$PWD/build
bash scripts/wine-session.sh start "$build" bench >/dev/null
trap 'bash scripts/wine-session.sh stop "$build" bench >/dev/null' EXIT
export WINEPREFIX=$build/wine/bench WINEDEBUG=-all
wine "$build/bin/qmis-bench.exe" "${ROUNDS:-5}" "${ONLY:-}"
tree="$WINEPREFIX/drive_c/users/$(whoami)/Temp/qmis-bench-tree"
if [ -d "$tree" ]; then
  start=$(date +%s%N)
  bytes=$(du -sb --apparent-size "$tree" | cut -f1)
  echo "host side for scale: du -sb of the same tree: $(( ($(date +%s%N) - start) / 1000000 )) ms ($bytes bytes with folders)"
fi
