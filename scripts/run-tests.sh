#!/usr/bin/env bash
# Runs every test through CTest, with the test preset given (default, or
# win64 for a 64-bit prefix). The Wine prefix and its server are set up
# and torn down by CTest fixtures, so plain `ctest` in build/ works too.
set -euo pipefail
cd "$(dirname "$0")/.."
ctest --preset "${1:-default}"
