#!/usr/bin/env bash
# Runs every test through CTest. The Wine prefix and its server are set up
# and torn down by CTest fixtures, so plain `ctest` in build/ works too.
set -euo pipefail
cd "$(dirname "$0")/.."
ctest --preset default
