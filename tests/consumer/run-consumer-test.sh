#!/usr/bin/env bash
# Installs the SDK from the build tree, builds the consumer project against
# it, and runs its C and C++ programs under Wine.
set -euo pipefail
source_dir=$1
build=$2
sdk=$build/sdk-install
cmake --install "$build" --prefix "$sdk" >/dev/null
cmake -S "$source_dir/tests/consumer" -B "$build/consumer" \
  -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-i686.cmake" \
  -DCMAKE_PREFIX_PATH="$sdk" >/dev/null
cmake --build "$build/consumer" >/dev/null
cp "$sdk/bin/QMIS.dll" "$build/consumer/"
for program in consumer_c consumer_cpp; do
  WINEDEBUG=-all wine "$build/consumer/$program.exe"
done
