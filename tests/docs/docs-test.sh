#!/usr/bin/env bash
# The docs as an author reads them (tests/docs/docs_test.py says what is
# checked): the release unpacked, the Inno Setup compiler fetched, and the
# snippets run in a Wine prefix of its own under one Xvfb display, as the
# Inno Setup example's test does.
set -uo pipefail
source_dir=$1
build=$2
if [ -z "${QMIS_UNDER_XVFB:-}" ]; then
  exec env QMIS_UNDER_XVFB=1 xvfb-run -a bash "$0" "$@"
fi
iscc_dir=$(bash "$source_dir/scripts/fetch-innosetup.sh") || exit 1
export WINEDEBUG=-all
work=$build/docs-test
rm -rf "$work"
mkdir -p "$work"
release=$(bash "$source_dir/tests/support/unpack-release.sh" "$build" "$work/release") || exit 1
bash "$source_dir/scripts/wine-session.sh" start "$build" docs >/dev/null || exit 1
trap 'bash "$source_dir/scripts/wine-session.sh" stop "$build" docs >/dev/null' EXIT
export WINEPREFIX=$build/wine/docs
python3 "$source_dir/tests/docs/docs_test.py" "$source_dir" "$release" "$work" "$iscc_dir"
