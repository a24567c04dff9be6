# The README's two commands: `make run` and `make test`. Each first installs
# what a fresh Debian machine lacks (scripts/bootstrap).
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

# Seconds each fuzz target runs under `make fuzz`, and under `make test`.
FUZZ_SECONDS ?= 300
FUZZ_SMOKE_SECONDS ?= 10

.PHONY: all bootstrap build run test unit e2e clean sanitize fuzz fuzz-build fuzz-smoke \
	windows windows-test package package-test bench

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
	@JOBS=$(JOBS) scripts/windows-test
	@JOBS=$(JOBS) scripts/package --test

# tblconv.exe, cross-compiled with mingw-w64 and statically linked.
windows: bootstrap
	@cmake --preset windows >/dev/null
	@cmake --build build-windows -j $(JOBS) --target tblconv

# The Windows unit tests and the end-to-end suite, under Wine.
windows-test: build
	@JOBS=$(JOBS) scripts/windows-test

# build/tblconv_*.deb and, with mingw-w64, build-windows/tblconv-*-win64.zip.
package: build
	@JOBS=$(JOBS) scripts/package

# The same, then each package unpacked into a private root and run.
package-test: build
	@JOBS=$(JOBS) scripts/package --test

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
