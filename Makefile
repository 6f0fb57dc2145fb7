# Quick start on a fresh Debian/Ubuntu machine:
#   make demo   build the demo Setup.exe and run it under Wine
#   make test   build everything and run every test
#   make setup PAYLOAD=<dir> OUT=<file>   a setup executable from a payload
#   make dist   the publishers' bundles (Linux and Windows) in build/dist/
#   make fuzz   run each fuzzer for FUZZ_SECONDS (default 300); crashing
#               inputs are kept in build/fuzz-findings/
# Each installs the system packages it needs first (scripts/install-deps).

.PHONY: all deps build test fuzz demo setup dist clean

all: build

deps:
	@scripts/install-deps

build: deps
	@scripts/build

test: deps
	@scripts/run-tests

FUZZ_SECONDS ?= 300
fuzz: deps
	@scripts/build fuzz && python3 tests/fuzz/run_fuzzer.py long --tree $${KV_BUILD:-build}/fuzz \
	  --seconds $(FUZZ_SECONDS) --findings $${KV_BUILD:-build}/fuzz-findings

demo: deps
	@scripts/demo

# make setup PAYLOAD=<dir> OUT=<file> [OPTIONS='<kvpack setup options>']
setup: deps
	@scripts/make-setup "$(PAYLOAD)" "$(OUT)" $(OPTIONS)

# make dist: the publishers' bundles in build/dist/
dist: deps
	@scripts/dist

clean:
	rm -rf build
