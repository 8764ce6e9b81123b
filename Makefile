# make demo  - set up, build, and run the demo under a throwaway Wine prefix
# make test  - set up, build, and run every test under a fresh Wine prefix
.PHONY: all setup configure build test demo clean

all: build

setup:
	@bash scripts/setup.sh

configure: setup
	@cmake --preset default >/dev/null

build: configure
	@cmake --build --preset default

test: build
	@bash scripts/run-tests.sh

demo: build
	@bash scripts/run-demo.sh

clean:
	rm -rf build
