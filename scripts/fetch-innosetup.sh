#!/usr/bin/env bash
# Fetches the Inno Setup 6 compiler (the npm package `innosetup`, which
# ships ISCC.exe and its DLLs) into a cache outside the source tree, checked
# against its recorded SHA-256, and prints the folder that holds ISCC.exe.
# No package script runs: `npm pack` only downloads the archive. Quick when
# the cache holds it.
set -euo pipefail
version=6.4.1
sha256=fc36b763a729c8964416552d733f4864ac4a4934d0a6569e20c2feb4c29b9684
cache=${QMIS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qmis}/innosetup-$version
if [ ! -f "$cache/bin/ISCC.exe" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  if ! (cd "$work" && npm pack --silent "innosetup@$version" >/dev/null 2>"$work/npm.log"); then
    echo "fetch-innosetup: cannot fetch innosetup@$version from the npm registry:" >&2
    cat "$work/npm.log" >&2
    exit 1
  fi
  if ! echo "$sha256  $work/innosetup-$version.tgz" | sha256sum -c --quiet >/dev/null 2>&1; then
    echo "fetch-innosetup: innosetup-$version.tgz does not match its recorded SHA-256" \
         "($sha256); it is not used" >&2
    exit 1
  fi
  rm -rf "$cache"
  mkdir -p "$cache"
  tar xzf "$work/innosetup-$version.tgz" -C "$cache" --strip-components=1
fi
echo "$cache/bin"
