# Thin wrapper over CMake: `make`, `make test`, `make demo`.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build test demo demo-board clean bench windows windows32 test-windows

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The demos build only what they run, with one line of progress (the
# build's output lands in $(BUILD)/build.log), then start the console.
demo:
	@./tools/build-quietly.sh $(BUILD) tolvanis tolvanis-sim
	@./tools/demo.sh $(BUILD)

# The console against the board firmware on QEMU's MIPS Malta (needs
# qemu-system-mips and gcc-mipsel-linux-gnu).
demo-board:
	@./tools/build-quietly.sh $(BUILD) tolvanis board_firmware?
	@./tools/demo-board.sh $(BUILD)

bench: build
	./bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD)

# `make install PREFIX=...` (DESTDIR honoured); `make package` leaves a
# Debian package in $(BUILD); `make package-check` (root, a throw-away
# machine) installs it with dpkg, tries it and removes it.
PREFIX ?= /usr/local
.PHONY: install package package-check

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix $(PREFIX)

package: build
	cd $(BUILD) && cpack -G DEB

package-check: build
	./tools/package-check.sh $(BUILD)

# Windows, cross-built with mingw-w64: the 64-bit build is tested under Wine,
# the 32-bit one is built. GoogleTest is built first from Debian's sources,
# with its own flags, for the 64-bit unit tests.
WIN64_BUILD ?= build-win64
WIN32_BUILD ?= build-win32
WINE_HOST_BUILD ?= build-wine-host
GTEST_SOURCE ?= /usr/src/googletest
WIN64_GTEST := $(abspath $(WIN64_BUILD))/googletest/install

$(WIN64_GTEST)/lib/cmake/GTest/GTestConfig.cmake:
	cmake -S $(GTEST_SOURCE) -B $(WIN64_BUILD)/googletest -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake \
	  -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX=$(WIN64_GTEST)
	cmake --build $(WIN64_BUILD)/googletest -j $(JOBS) --target install

$(WIN64_BUILD)/CMakeCache.txt: $(WIN64_GTEST)/lib/cmake/GTest/GTestConfig.cmake
	cmake -S . -B $(WIN64_BUILD) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake \
	  -DGTest_DIR=$(WIN64_GTEST)/lib/cmake/GTest -DTOLVANIS_TEST_AREAS=windows

$(WIN32_BUILD)/CMakeCache.txt:
	cmake -S . -B $(WIN32_BUILD) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-i686.cmake \
	  -DTOLVANIS_TESTS=OFF

windows: $(WIN64_BUILD)/CMakeCache.txt windows32
	cmake --build $(WIN64_BUILD) -j $(JOBS)

windows32: $(WIN32_BUILD)/CMakeCache.txt
	cmake --build $(WIN32_BUILD) -j $(JOBS)

test-windows: windows
	JOBS=$(JOBS) ./tools/wine-test.sh $(WIN64_BUILD) $(WINE_HOST_BUILD) $(WIN32_BUILD)

# libFuzzer targets (clang): FUZZ_SECONDS per target, 60 by default.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
.PHONY: fuzz
fuzz:
	./fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# The test suite under the sanitizers: every test but the emulator ones (the
# board on QEMU's Malta, the Linux guest on a USB adapter: they run once, in
# `make test`) with AddressSanitizer and UndefinedBehaviorSanitizer, the
# threaded ones (transfers, loads, scripts, faults) with ThreadSanitizer.
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
ASAN_AREAS ?= support;platform;serial;app;console;transfer;loader;script;sim;e2e;faults;windows;install
TSAN_AREAS ?= support;transfer;loader;script;faults
.PHONY: test-asan test-tsan

test-asan:
	cmake -S . -B $(ASAN_BUILD) -DSANITIZE=address "-DTOLVANIS_TEST_AREAS=$(ASAN_AREAS)"
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

test-tsan:
	cmake -S . -B $(TSAN_BUILD) -DSANITIZE=thread "-DTOLVANIS_TEST_AREAS=$(TSAN_AREAS)"
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && ctest --output-on-failure -j $(JOBS)
