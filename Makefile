# The README's commands: `make demo` runs the main job, `make test` runs every test.
# Both install what they need on a fresh Debian machine first.

SHELL := /bin/bash
PACKAGES := cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
            msitools wixl libmsi-dev libglib2.0-dev g++-mingw-w64-x86-64 wine wine64 \
            clang libclang-rt-14-dev hyperfine valgrind time jq
DEMO_DIR := build/demo

.PHONY: all deps build build-windows test demo demo-reset bench fuzz clean

all: build

deps:
	@missing=""; for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	    echo "Installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing >/dev/null; \
	fi

build: deps
	cmake --preset linux >/dev/null
	cmake --build --preset linux

build-windows: deps
	cmake --preset windows >/dev/null
	cmake --build --preset windows

# The tests, then a short pass of every fuzz target (TEST_FUZZ_SECONDS each).
test: build build-windows fuzz-build
	ctest --preset linux
	tests/fuzz/run-fuzzers.sh $(TEST_FUZZ_SECONDS)

# The main job on a simulated machine that lasts between runs (reset: make demo-reset).
# The first run patches the demo's German Mervolt 9.2; the next ones find it up to date.
demo: build
	@mkdir -p $(DEMO_DIR)
	SIMWIN_ROOT=$(DEMO_DIR) SIMWIN_MACHINE=$(DEMO_DIR)/machine.reg build/linux/spinstall

# The performance figures of docs/performance.md: the microbenchmarks, then the
# whole-process benchmarks, each beside its reference, in one table with the
# ratios last. Run it when the machine is otherwise idle.
bench: deps
	cmake --preset linux-release >/dev/null
	cmake --build --preset linux-release --target spinstall rccompile make-scaled-package spinstall_micro_bench
	@echo "== load: $$(uptime)"; echo "== $$(nproc) cores"; free -h; df -h build/linux-release
	build/linux-release/spinstall_micro_bench --benchmark_min_time=0.1
	bench/run-benchmarks.sh build/linux-release

# Every fuzz target for FUZZ_SECONDS each (default 60); `make test` gives each
# TEST_FUZZ_SECONDS (default 20).
FUZZ_SECONDS ?= 60
TEST_FUZZ_SECONDS ?= 20
.PHONY: fuzz-build
fuzz-build: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz

fuzz: fuzz-build
	tests/fuzz/run-fuzzers.sh $(FUZZ_SECONDS)

demo-reset:
	rm -rf $(DEMO_DIR)

clean:
	rm -rf build
