# Thin wrapper over CMake.
#   make          build the library and the programs
#   make test     build and run every test, plain and with sanitizers
#   make test-clang  Release build with clang and every test (CI runs it too)
#   make demo     build only the programs the demo runs, then run them on an example disk
#   make install  install into PREFIX (default /usr/local; DESTDIR is honoured)
#   make deb      the Debian package, dv_<version>_<arch>.deb in build-release/
#   make bench    release build and benchmarks against a peer toolkit
#   make fuzz     run each fuzz target for FUZZ_SECONDS (default 60)
BUILD ?= build
ASAN_BUILD ?= build-asan
CLANG_BUILD ?= build-clang
# Release build without the tests: the demo, install, the package, benchmarks.
RELEASE_BUILD ?= build-release
JOBS ?= 2
FUZZ_SECONDS ?= 60
PREFIX ?= /usr/local
# Warnings stop the build under `make test`; a plain build only shows them.
WERROR ?= OFF
DEMO_PROGRAMS = dvinit dvnewdir dvspace dvtype dvprune dvls dvcopy dvattr dvident dvboot dvcheck

# Pipelines fail when any of their commands does.
SHELL := /bin/bash
.SHELLFLAGS := -o pipefail -c

# Quiet builds and test runs: compiler messages and failures come through,
# progress lines and passing tests do not.
CONFIGURE = cmake -S . -DCMAKE_RULE_MESSAGES=OFF
BUILD_QUIET = -- --no-print-directory | { grep -v --line-buffered -E '^\[ *[0-9]+%\] Built target' || true; }
CTEST_QUIET = --output-on-failure -j $(JOBS) | { grep -v --line-buffered -E '$(CTEST_NOISE)' || true; }
CTEST_NOISE = ^ *([0-9]+/[0-9]+ Test +\#[0-9]+: .* Passed +[0-9.]+ sec|Start +[0-9]+: .*)$$|^Internal ctest changing into directory

.PHONY: all build test test-plain test-asan test-clang demo release install deb bench fuzz clean

all: build

build:
	@echo "-- building in $(BUILD)"
	@$(CONFIGURE) -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDV_WERROR=$(WERROR) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) $(BUILD_QUIET)

test: test-plain test-asan

test-plain: WERROR = ON
test-plain: build
	@echo "-- testing in $(BUILD)"
	@ctest --test-dir $(BUILD) $(CTEST_QUIET)

test-asan:
	@echo "-- building and testing in $(ASAN_BUILD) (AddressSanitizer + UBSan)"
	@$(CONFIGURE) -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DDV_SANITIZE=ON -DDV_WERROR=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS) $(BUILD_QUIET)
	@ctest --test-dir $(ASAN_BUILD) $(CTEST_QUIET)

test-clang:
	@echo "-- building and testing in $(CLANG_BUILD) (clang, Release)"
	@CC=clang CXX=clang++ $(CONFIGURE) -B $(CLANG_BUILD) -DCMAKE_BUILD_TYPE=Release -DDV_WERROR=ON >/dev/null
	@cmake --build $(CLANG_BUILD) -j $(JOBS) $(BUILD_QUIET)
	@ctest --test-dir $(CLANG_BUILD) $(CTEST_QUIET)

demo:
	@echo "-- building the demo's programs in $(RELEASE_BUILD)"
	@$(CONFIGURE) -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release -DDV_TESTS=OFF >/dev/null
	@cmake --build $(RELEASE_BUILD) -j $(JOBS) --target $(DEMO_PROGRAMS) $(BUILD_QUIET)
	@sh tests/demo.sh $(RELEASE_BUILD)

release:
	@echo "-- building in $(RELEASE_BUILD)"
	@$(CONFIGURE) -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release -DDV_TESTS=OFF >/dev/null
	@cmake --build $(RELEASE_BUILD) -j $(JOBS) $(BUILD_QUIET)

install: release
	@cmake --install $(RELEASE_BUILD) --prefix $(PREFIX)

deb: release
	@cd $(RELEASE_BUILD) && cpack -G DEB

bench:
	@sh bench/run.sh

fuzz:
	@sh fuzz/run.sh $(FUZZ_SECONDS)

clean:
	@rm -rf $(BUILD) $(ASAN_BUILD) $(CLANG_BUILD) $(RELEASE_BUILD) build-fuzz
