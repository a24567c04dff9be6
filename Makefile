# The README's two commands: `make run` and `make test`. Each first installs
# what a fresh Debian machine lacks (scripts/bootstrap): `make build` and
# `make run` only the compiler, CMake and GoogleTest; `make test` everything
# the whole suite uses.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

# Seconds each fuzz target runs under `make fuzz`, and under `make test`.
FUZZ_SECONDS ?= 300
FUZZ_SMOKE_SECONDS ?= 10

.PHONY: all build run test unit e2e format format-check clean sanitize fuzz fuzz-build \
	fuzz-smoke windows windows-test package package-test bench

all: build

build:
	@scripts/bootstrap build
	@cmake --preset release >/dev/null
	@cmake --build build -j $(JOBS)

run: build
	@scripts/run-example

test:
	@scripts/bootstrap test
	@scripts/format --check
	@$(MAKE) --no-print-directory build sanitize fuzz-smoke
	@cd build && ctest -j $(JOBS) --output-on-failure
	@JOBS=$(JOBS) scripts/windows-test
	@JOBS=$(JOBS) scripts/package --test

# The unit tests alone, and the end-to-end tests of the built programs alone.
unit: build
	@cd build && ctest -j $(JOBS) --output-on-failure -E '^e2e\.'

e2e: build
	@cd build && ctest -j $(JOBS) --output-on-failure -R '^e2e\.'

# Formats every source file in place (clang-format, .clang-format), or only
# checks that it is formatted.
format:
	@scripts/format

format-check:
	@scripts/format --check

# tblconv.exe, cross-compiled with mingw-w64 and statically linked.
windows:
	@scripts/bootstrap test
	@cmake --preset windows >/dev/null
	@cmake --build build-windows -j $(JOBS) --target tblconv

# The Windows unit tests and the end-to-end suite, under Wine.
windows-test: build
	@scripts/bootstrap test
	@JOBS=$(JOBS) scripts/windows-test

# build/tblconv_*.deb and, with mingw-w64, build-windows/tblconv-*-win64.zip.
package: build
	@JOBS=$(JOBS) scripts/package

# The same, then each package unpacked into a private root and run.
package-test: build
	@scripts/bootstrap test
	@JOBS=$(JOBS) scripts/package --test

# The whole unit and end-to-end suite again under AddressSanitizer,
# UndefinedBehaviorSanitizer and LeakSanitizer.
sanitize:
	@scripts/bootstrap build
	@cmake --preset sanitize >/dev/null
	@cmake --build build-sanitize -j $(JOBS)
	@cd build-sanitize && ctest -j $(JOBS) --output-on-failure

fuzz-build:
	@scripts/bootstrap test
	@cmake --preset fuzz >/dev/null
	@cmake --build build-fuzz -j $(JOBS)

fuzz: fuzz-build
	@scripts/fuzz $(FUZZ_SECONDS)

fuzz-smoke: fuzz-build
	@scripts/fuzz $(FUZZ_SMOKE_SECONDS)

# Times every conversion of the largest table against its copy floor
# (bench/run builds its own release programs in build/).
bench:
	@scripts/bootstrap test
	@bench/run

clean:
	rm -rf build build-sanitize build-windows build-fuzz
