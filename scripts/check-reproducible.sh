#!/usr/bin/env bash
# Builds the release twice from clean clones of HEAD in two different
# folders and checks that QMIS.dll, its debug file, the zip and SHA256SUMS
# come out the same to the bit; then that a tree with an uncommitted change
# names its archive -dirty.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/qmis-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT

build_in() {  # build_in FOLDER
  git clone -q "$top" "$1"
  (cd "$1" && cmake --preset default >/dev/null && cmake --build --preset default --target dist >/dev/null)
}
build_in "$work/a"
build_in "$work/second-folder"

status=0
for file in release/QMIS.dll release/QMIS.dll.debug dist/SHA256SUMS; do
  if cmp -s "$work/a/build/$file" "$work/second-folder/build/$file"; then
    echo "same: $file"
  else
    echo "DIFFERENT: $file"
    status=1
  fi
done
zip_a=$(cd "$work/a/build/dist" && ls qmis-*.zip)
if cmp -s "$work/a/build/dist/$zip_a" "$work/second-folder/build/dist/$zip_a"; then
  echo "same: dist/$zip_a"
else
  echo "DIFFERENT: dist/$zip_a"
  status=1
fi
echo "sha256: $(cat "$work/a/build/dist/SHA256SUMS")"

echo "# an uncommitted change" >>"$work/a/README.md"
(cd "$work/a" && cmake --build --preset default --target dist >/dev/null)
if [ -e "$work/a/build/dist/${zip_a%.zip}-dirty.zip" ] && grep -q -- "-dirty.zip" "$work/a/build/dist/SHA256SUMS"; then
  echo "dirty tree: ${zip_a%.zip}-dirty.zip"
else
  echo "DIRTY TREE NOT MARKED: $(ls "$work/a/build/dist")"
  status=1
fi
[ $status -eq 0 ] && echo "reproducible: 2 builds, 1 result; a dirty tree is marked" || echo "not reproducible"
exit $status
