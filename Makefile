# Thin wrapper over CMake.
#   make          build the library and the programs
#   make test     build and run every test, plain and with sanitizers
#   make test-clang  Release build with clang and every test (CI runs it too)
#   make demo     build, then run the programs on an example disk
#   make bench    release build and benchmarks against a peer toolkit
#   make fuzz     run each fuzz target for FUZZ_SECONDS (default 60)
BUILD ?= build
ASAN_BUILD ?= build-asan
CLANG_BUILD ?= build-clang
JOBS ?= 2
FUZZ_SECONDS ?= 60
# Warnings stop the build under `make test`; a plain build only shows them.
WERROR ?= OFF

.PHONY: all build test test-plain test-asan test-clang demo bench fuzz clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDV_WERROR=$(WERROR) >/dev/null
	cmake --build $(BUILD) -j $(JOBS) -- --no-print-directory

test: test-plain test-asan

test-plain: WERROR = ON
test-plain: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DDV_SANITIZE=ON -DDV_WERROR=ON >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS) -- --no-print-directory
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

test-clang:
	CC=clang CXX=clang++ cmake -S . -B $(CLANG_BUILD) -DCMAKE_BUILD_TYPE=Release -DDV_WERROR=ON >/dev/null
	cmake --build $(CLANG_BUILD) -j $(JOBS) -- --no-print-directory
	ctest --test-dir $(CLANG_BUILD) --output-on-failure -j $(JOBS)

demo: build
	sh tests/demo.sh $(BUILD)

bench:
	sh bench/run.sh

fuzz:
	sh fuzz/run.sh $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(CLANG_BUILD) build-fuzz build-release
