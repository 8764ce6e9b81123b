#!/usr/bin/env bash
# wine-session.sh start|stop BUILD_DIR [NAME]
#
# start: makes a template prefix once per build tree, copies it into a fresh
#        prefix build/wine/NAME (default: run), and starts one persistent
#        wineserver for that prefix.
# stop:  stops the wineserver of that prefix (and only that one).
#
# QMIS_WINEARCH=win64 makes the prefix a 64-bit (WoW64) one, as 64-bit
# Windows is: the 32-bit programs' HKLM\SOFTWARE keys then live under
# WOW6432Node. The default is win32.
#
# Every Wine command here runs with its standard streams on /dev/null: a
# helper process that inherits a pipe would keep the caller (CTest) waiting.
set -euo pipefail
action=$1
build=$(cd "$2" && pwd)
arch=${QMIS_WINEARCH:-win32}
case $arch in win32|win64) ;; *) echo "QMIS_WINEARCH must be win32 or win64" >&2; exit 2 ;; esac
template=$build/wine/template-$arch
run=$build/wine/${3:-run}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

quiet() { "$@" </dev/null >/dev/null 2>&1; }

case $action in
  start)
    if [ ! -f "$template/.ready" ]; then
      rm -rf "$template"
      mkdir -p "$build/wine"
      WINEPREFIX=$template WINEARCH=$arch quiet wineboot -i
      WINEPREFIX=$template quiet wineserver -w
      touch "$template/.ready"
    fi
    # Code page 932 runs need the Japanese locale for file names outside
    # ASCII (LOCPATH=build/locale): made once per build tree.
    if [ ! -d "$build/locale/ja_JP.UTF-8" ]; then
      mkdir -p "$build/locale"
      localedef -i ja_JP -f UTF-8 "$build/locale/ja_JP.UTF-8" >/dev/null 2>&1 || true
    fi
    WINEPREFIX=$run quiet wineserver -k || true
    rm -rf "$run"
    cp -a "$template" "$run"
    WINEPREFIX=$run quiet wineserver -p
    WINEPREFIX=$run quiet wine cmd /c exit
    echo "wine prefix ready ($arch): $run"
    ;;
  stop)
    WINEPREFIX=$run quiet wineserver -k || true
    echo "wine server stopped: $run"
    ;;
  *)
    echo "usage: $0 start|stop BUILD_DIR [NAME]" >&2
    exit 2
    ;;
esac
