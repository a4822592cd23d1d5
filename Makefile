# make run   - install what is missing, build, lay out build/demo and start it
#              with a virtual programmer on COM1 (without a display: run the
#              demo tour and leave screenshots)
# make test  - install what is missing, build, run every test
# make build / make bench / make test-asan / make test-tsan / make lint
# make fuzz  - each libFuzzer target for FUZZ_SECONDS (default 180)
# make package - the Debian package; make test-package - build it and test it
# make test-wine - the logic built for Windows with MinGW-w64, its tests run under Wine
# make test-hw - the serial line through real kernel drivers, in a virtual machine
# WERROR=ON turns compiler warnings into errors (CI builds so).
BUILD ?= build
JOBS ?= 2
WERROR ?= OFF
PACKAGES = cmake make g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev \
           libgtest-dev libcli11-dev nlohmann-json3-dev libudev-dev fonts-dejavu-core
# What the tests need besides the build: srec_cat makes and reads record files.
TEST_TOOLS = srecord
# What the package needs besides the build, and what its tests need.
PACKAGE_TOOLS = dpkg-dev file librsvg2-bin
PACKAGE_TEST_TOOLS = lintian shellcheck appstream
# ccache, where a developer has it, makes rebuilds across work trees cheap.
LAUNCHER = $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CONFIGURE = cmake -S . -DTALVORIN_WERROR=$(WERROR) $(LAUNCHER)

FUZZ_SECONDS ?= 180
.PHONY: deps build test run bench test-asan test-tsan lint fuzz package test-package test-wine test-hw clean

deps:
	@./tools/install-deps.sh $(PACKAGES)

build: deps
	@$(CONFIGURE) -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

# The package's tests (label "package") run in make test-package, the
# hardware tests (label "hw") in make test-hw.
test: build
	@./tools/install-deps.sh $(TEST_TOOLS)
	cd $(BUILD) && ctest -j$(JOBS) -LE 'package|hw' --output-on-failure --timeout 300

package: deps
	@./tools/install-deps.sh $(PACKAGE_TOOLS)
	@$(CONFIGURE) -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j$(JOBS) --target package

# Builds the package and tests it: its file list, lintian, and its launchers
# run from an unpacked copy.
test-package: deps
	@./tools/install-deps.sh $(PACKAGE_TOOLS) $(PACKAGE_TEST_TOOLS)
	@$(CONFIGURE) -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)
	cd $(BUILD) && ctest -j$(JOBS) -L package --output-on-failure --timeout 300

# The suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	@./tools/install-deps.sh $(TEST_TOOLS)
	@$(CONFIGURE) -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTALVORIN_SANITIZE=address,undefined >/dev/null
	@cmake --build build-asan -j$(JOBS)
	cd build-asan && ctest -j$(JOBS) -LE 'package|hw' --output-on-failure --timeout 600

# The threaded tests under ThreadSanitizer.
test-tsan: deps
	@$(CONFIGURE) -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DTALVORIN_SANITIZE=thread >/dev/null
	@cmake --build build-tsan -j$(JOBS) --target tsan_tests
	cd build-tsan && ctest -L threads -j$(JOBS) --output-on-failure --timeout 600

# clang-tidy over the logic libraries; any finding fails.
lint: deps
	@./tools/install-deps.sh clang-tidy
	@$(CONFIGURE) -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@./tools/lint.sh $(BUILD) $(JOBS)

# The libFuzzer targets of fuzz/, built with clang, each run for FUZZ_SECONDS
# from its seeds and what earlier runs found (build-fuzz/corpus).
fuzz: deps
	@./tools/install-deps.sh clang libclang-rt-14-dev
	@CC=clang CXX=clang++ $(CONFIGURE) -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVORIN_FUZZ=ON \
	  -DBUILD_TESTING=OFF >/dev/null
	@cmake --build build-fuzz -j$(JOBS) --target fuzzers
	@./fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

# Only what it runs: the program, the tools and the tour (the demo's
# prerequisites), not the test suites.
run: deps
	@$(CONFIGURE) -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j$(JOBS) --target demo
	@if [ -n "$$DISPLAY" ]; then cd $(BUILD)/demo && \
	  { ./talvorin-vprog --install . --com 1 --store programmer-memory.bin --serve programs/atmega103.bin \
	    >vprog.log & vprog=$$!; ./Talvorin; kill $$vprog; }; \
	else $(BUILD)/bin/talvorin-tour $(BUILD)/demo; fi

bench: build
	@cmake --build $(BUILD) --target bench

# The logic libraries built for Windows (MinGW-w64, GoogleTest from Debian's
# source) and their tests run under Wine in a private prefix,
# build-wine/prefix. The serial test talks to the Linux virtual programmer.
WINE_PACKAGES = g++-mingw-w64-x86-64 wine64 googletest
test-wine: deps
	@./tools/install-deps.sh $(WINE_PACKAGES)
	@$(CONFIGURE) -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j$(JOBS) --target talvorin-vprog
	@$(CONFIGURE) -B build-wine -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DTALVORIN_LOGIC_ONLY=ON -DTALVORIN_GTEST_SOURCE=/usr/src/googletest \
	  -DTALVORIN_VPROG=$(abspath $(BUILD))/bin/talvorin-vprog >/dev/null
	@cmake --build build-wine -j$(JOBS)
	@./tools/wine-test.sh build-wine $(JOBS)

# The hardware tests (tests/hw) in a virtual machine under QEMU's own
# processor emulation (no /dev/kvm needed): Debian's kernel, unpacked into
# $(BUILD)/hw/guest, drives an FTDI USB adapter and a 16550 whose far ends are
# virtual programmers here (tools/hw/run.sh).
HW_PACKAGES = qemu-system-x86 busybox-static kmod cpio xz-utils udev
test-hw: deps
	@./tools/install-deps.sh $(HW_PACKAGES)
	@$(CONFIGURE) -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j$(JOBS) --target test_hw
	cd $(BUILD) && ctest -L hw --output-on-failure

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz build-wine
