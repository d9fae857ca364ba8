# Thin wrapper over CMake: `make`, `make test`, `make demo`.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build test demo clean bench

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	./tools/demo.sh $(BUILD)

bench: build
	./bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD)
