#!/usr/bin/env bash
# check-analyser.sh BUILD_DIR: runs clang-tidy with the checks of .clang-tidy
# over the library (qmis/), as mingw-w64's i686 compiler sees it, and fails
# on any finding, naming its file and line.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
gcc_include=$(dirname "$(i686-w64-mingw32-g++-posix -print-file-name=include/c++/cstddef)")
mapfile -t files < <(git ls-files 'qmis/*.cpp')
if ! clang-tidy --quiet "${files[@]}" -- --target=i686-w64-mingw32 -std=c++20 -nostdinc++ \
    -isystem "$gcc_include" -isystem "$gcc_include/i686-w64-mingw32" \
    -isystem "$gcc_include/backward" -I. -Iinclude -I"$build/generated" \
    -DWIN32_LEAN_AND_MEAN -DNOMINMAX -DQMIS_BUILDING_LIBRARY -fno-exceptions 2>/dev/null; then
  echo "check-analyser: clang-tidy's findings above (checks: .clang-tidy)" >&2
  exit 1
fi
echo "check-analyser: ${#files[@]} library sources, no finding"
