# The README's two commands: `make run` and `make test`. Each first installs
# what a fresh Debian machine lacks (scripts/bootstrap).
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all bootstrap build run test unit e2e clean

all: build

bootstrap:
	@scripts/bootstrap

build: bootstrap
	@cmake --preset release >/dev/null
	@cmake --build build -j $(JOBS)

run: build
	@scripts/run-example

test: build
	@cd build && ctest -j $(JOBS) --output-on-failure

clean:
	rm -rf build build-sanitize build-windows
