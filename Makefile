# Quick start on a fresh Debian/Ubuntu machine:
#   make demo   build the demo Setup.exe and run it under Wine
#   make test   build everything and run every test
# Both install the system packages they need first (scripts/install-deps).

.PHONY: all deps build test demo setup clean

all: build

deps:
	@scripts/install-deps

build: deps
	@scripts/build

test: deps
	@scripts/run-tests

demo: deps
	@scripts/demo

# make setup PAYLOAD=<dir> OUT=<file>
setup: deps
	@scripts/make-setup "$(PAYLOAD)" "$(OUT)"

clean:
	rm -rf build
