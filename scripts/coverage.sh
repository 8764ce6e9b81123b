#!/usr/bin/env bash
# make coverage: builds the library instrumented (build/coverage), runs the
# suite on it, and reports line and branch coverage of qmis/: printed, and as
# HTML in build/coverage/html/index.html. Fails, naming file and line, on a
# library line that no test runs, and on a branch that no test takes unless
# scripts/coverage-branches.txt names it with its reason.
#
# The tests that check the shipped artefacts (the release, the examples
# built from it, the reproducible build) do not run here: they check the
# uninstrumented build, which `make test` runs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/coverage
cmake --preset coverage >/dev/null
cmake --build --preset coverage >/dev/null
find "$build" -name '*.gcda' -delete
# The library writes its counts beside its objects, by their Unix paths:
# through Wine's drive Z:, whatever the test's current folder.
if ! ctest --preset coverage >"$build/ctest.log" 2>&1; then
  cat "$build/ctest.log"
  exit 1
fi
tail -n 3 "$build/ctest.log"
mkdir -p "$build/html"
# Counters updated by several threads at once (the many-threads test) can
# give gcov a function summary it cannot express ("returned -479%"); gcovr
# skips such a summary line, while the line and branch counts stay whole.
gcovr --root "$root" --filter 'qmis/' --object-directory "$build" \
  --gcov-executable i686-w64-mingw32-gcov-posix --gcov-ignore-parse-errors \
  --html-details "$build/html/index.html" --json "$build/coverage.json" --txt - \
  | sed -n '/^File/,$p'
python3 "$root/scripts/coverage-check.py" "$build/coverage.json" "$root/scripts/coverage-branches.txt"
