#!/usr/bin/env bash
# Fails, naming each file and line, where a C or C++ source of the project
# differs from .clang-format's layout. `clang-format -i <file>` mends it.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c')
if ! clang-format --dry-run -Werror "${files[@]}"; then
  echo "check-format: the lines above differ from .clang-format; run clang-format -i on those files" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files as .clang-format lays them out"
