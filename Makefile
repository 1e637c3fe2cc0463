# The two commands of this project: `make demo` and `make test`.
# Each installs the Debian packages it needs (tools/setup-deps.sh), configures with a preset and
# builds what it runs: `make demo` only the library and the three programs of the demo.

PRESET ?= default
BUILD_DIR := build/$(PRESET)
JOBS ?= $(shell nproc)

.PHONY: all deps configure configure-only build test demo bench clean test-asan test-tsan test-windows windows-deps windows-build package-windows fuzz fuzz-soak package docs

all: build

deps:
	@bash tools/setup-deps.sh test

# The code model query makes CMake describe its targets for the Windows check.
configure: deps
	@$(MAKE) --no-print-directory configure-only

configure-only:
	@mkdir -p $(BUILD_DIR)/.cmake/api/v1/query && touch $(BUILD_DIR)/.cmake/api/v1/query/codemodel-v2
	cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	ctest --preset $(PRESET) -j $(JOBS)

# The Debian packages (build/default/packages/*.deb).
package: build
	@bash tools/setup-deps.sh package
	cmake --build --preset $(PRESET) --target package

DEMO_TARGETS := lumivex lumivex-sample ovfilterhost

demo:
	@bash tools/setup-deps.sh demo
	@$(MAKE) --no-print-directory configure-only
	cmake --build --preset $(PRESET) -j $(JOBS) --target $(DEMO_TARGETS)
	@bash tools/demo.sh $(BUILD_DIR)

# The API reference of the installed headers, build/docs/html/index.html. Any Doxygen warning (an
# undocumented member, a parameter without its description) fails the target.
docs:
	@bash tools/setup-deps.sh docs
	rm -rf build/docs/html
	mkdir -p build/docs
	doxygen docs/Doxyfile

bench: build
	@bash tools/bench.sh $(BUILD_DIR)

# The benches of the Windows build (build/windows) under Wine, each right after the same program of
# the Linux build in the same run, with the figures of both side by side and their ratios.
.PHONY: bench-windows
bench-windows: build
	$(MAKE) windows-build
	python3 tools/bench-compare.py $(BUILD_DIR) build/windows

# Qt's qtbase and OpenCV for Windows, built once per machine into a cache outside the tree.
windows-deps:
	@bash tools/setup-deps.sh windows
	@bash tools/windows-deps.sh

# The whole tree built for Windows against them (build/windows).
windows-build: windows-deps
	cmake --preset windows
	cmake --build --preset windows -j $(JOBS)

# (a) every unit of the library, the imaging libraries and the programs compiled for Windows, and
# the Qt-free Windows programs (tests/windows) run under Wine; (b) the whole tree built for
# Windows; (c) its suite and both demo round trips under Wine.
test-windows: build
	@bash tools/setup-deps.sh windows
	python3 tools/windows-check.py $(BUILD_DIR) $(JOBS)
	$(MAKE) windows-build
	python3 tools/windows-suite.py build/windows $(JOBS)

# A zip for testers on Windows: the programs, the DLLs they need, the headers and the CMake package.
package-windows: windows-build
	cmake --build --preset windows --target package

# The whole suite under AddressSanitizer + UndefinedBehaviorSanitizer, and under ThreadSanitizer.
test-asan:
	@bash tools/setup-deps.sh sanitizers
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

test-tsan:
	@bash tools/setup-deps.sh sanitizers
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

# Each libFuzzer target for FUZZ_SECONDS on a copy of its seed corpus (fuzz/corpus/<target>).
FUZZ_SECONDS ?= 60

fuzz:
	@bash tools/setup-deps.sh sanitizers
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	@bash fuzz/run-fuzzers.sh build/fuzz $(FUZZ_SECONDS)

# A long run of the filter-host targets, FUZZ_SOAK_RUNS inputs each (not part of test or CI).
FUZZ_SOAK_RUNS ?= 1000000
FUZZ_SOAK_TARGETS ?= fuzz_psrecord fuzz_pssettings

fuzz-soak:
	@bash tools/setup-deps.sh sanitizers
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	@FUZZ_RUNS=$(FUZZ_SOAK_RUNS) bash fuzz/run-fuzzers.sh build/fuzz 7200 $(FUZZ_SOAK_TARGETS)

clean:
	rm -rf build
