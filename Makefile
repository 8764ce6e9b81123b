# make demo  - set up, build, and run the demo under a throwaway Wine prefix
# make test  - set up, build, and run every test under a fresh Wine prefix
# make test-win64 - the same tests in a 64-bit (WoW64) prefix, as on 64-bit Windows
# make bench - set up, build, and run the benchmarks (not tests: no timing asserted)
# make dist  - build the release archive build/dist/qmis-<version>-win32.zip and SHA256SUMS
# make lint  - the formatting check (.clang-format) and the analyser over qmis/ (.clang-tidy)
# make coverage - the suite on an instrumented build; line and branch coverage of qmis/
.PHONY: all setup configure build test test-win64 demo bench dist lint coverage clean

all: build

setup:
	@bash scripts/setup.sh

configure: setup
	@cmake --preset default >/dev/null

build: configure
	@cmake --build --preset default

test: build
	@bash scripts/run-tests.sh

test-win64: build
	@bash scripts/run-tests.sh win64

demo: build
	@bash scripts/run-demo.sh

bench: build
	@bash scripts/run-bench.sh

dist: configure
	@cmake --build --preset default --target dist

lint: configure
	@bash scripts/check-format.sh
	@bash scripts/check-analyser.sh build

coverage: setup
	@bash scripts/coverage.sh

clean:
	rm -rf build
