#!/usr/bin/env bash
# unpack-release.sh BUILD_DIR FOLDER: makes the release archive (make dist's)
# if it is not up to date, unpacks it into FOLDER, and prints the path of
# the release's top folder there.
set -euo pipefail
build=$1
folder=$2
cmake --build "$build" --target dist >/dev/null
rm -rf "$folder"
mkdir -p "$folder"
(cd "$folder" && cmake -E tar xf "$(ls "$build"/dist/qmis-*.zip)")
ls -d "$folder"/qmis-*
