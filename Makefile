# The README's two commands: `make run` and `make test`. Each first installs
# what a fresh Debian machine lacks (scripts/bootstrap).
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

# Seconds each fuzz target runs under `make fuzz`, and under `make test`.
FUZZ_SECONDS ?= 300
FUZZ_SMOKE_SECONDS ?= 10

.PHONY: all bootstrap build run test unit e2e clean sanitize fuzz fuzz-build fuzz-smoke bench

all: build

bootstrap:
	@scripts/bootstrap

build: bootstrap
	@cmake --preset release >/dev/null
	@cmake --build build -j $(JOBS)

run: build
	@scripts/run-example

test: build sanitize fuzz-smoke
	@cd build && ctest -j $(JOBS) --output-on-failure

# The whole unit and end-to-end suite again under AddressSanitizer,
# UndefinedBehaviorSanitizer and LeakSanitizer.
sanitize: bootstrap
	@cmake --preset sanitize >/dev/null
	@cmake --build build-sanitize -j $(JOBS)
	@cd build-sanitize && ctest -j $(JOBS) --output-on-failure

fuzz-build: bootstrap
	@cmake --preset fuzz >/dev/null
	@cmake --build build-fuzz -j $(JOBS)

fuzz: fuzz-build
	@scripts/fuzz $(FUZZ_SECONDS)

fuzz-smoke: fuzz-build
	@scripts/fuzz $(FUZZ_SMOKE_SECONDS)

# Times every conversion of the largest table against its copy floor
# (bench/run builds its own release tblconv in build/).
bench: bootstrap
	@bench/run

clean:
	rm -rf build build-sanitize build-windows build-fuzz
