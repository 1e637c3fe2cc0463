# The two commands of this project: `make demo` and `make test`.
# Both install what is missing, configure with a preset and build first.

PRESET ?= default
BUILD_DIR := build/$(PRESET)
JOBS ?= $(shell nproc)

.PHONY: all deps configure build test demo bench clean

all: build

deps:
	@bash tools/setup-deps.sh

configure: deps
	cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	ctest --preset $(PRESET) -j $(JOBS)

demo: build
	@bash tools/demo.sh $(BUILD_DIR)

bench: build
	@bash tools/bench.sh $(BUILD_DIR)

clean:
	rm -rf build
