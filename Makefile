# make run   - install what is missing, build, lay out build/demo and start it
#              with a virtual programmer on COM1 (without a display: run the
#              demo tour and leave screenshots)
# make test  - install what is missing, build, run every test
# make build / make bench / make test-asan / make test-tsan
BUILD ?= build
JOBS ?= 2
PACKAGES = cmake make g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev \
           libgtest-dev libgmock-dev libbenchmark-dev fonts-dejavu-core

.PHONY: deps build test run bench test-asan test-tsan clean

deps:
	@./tools/install-deps.sh $(PACKAGES)

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && ctest -j$(JOBS) --output-on-failure --timeout 300

# The suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	@cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTALVORIN_SANITIZE=address,undefined >/dev/null
	@cmake --build build-asan -j$(JOBS)
	cd build-asan && ctest -j$(JOBS) --output-on-failure --timeout 600

# The threaded tests under ThreadSanitizer.
test-tsan: deps
	@cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DTALVORIN_SANITIZE=thread >/dev/null
	@cmake --build build-tsan -j$(JOBS) --target tsan_tests
	cd build-tsan && ctest -L threads -j$(JOBS) --output-on-failure --timeout 600

run: build
	@cmake --build $(BUILD) --target demo
	@if [ -n "$$DISPLAY" ]; then cd $(BUILD)/demo && \
	  { ./talvorin-vprog --install . --com 1 --store programmer-memory.bin --serve programs/atmega103.bin \
	    >vprog.log & vprog=$$!; ./Talvorin; kill $$vprog; }; \
	else $(BUILD)/bin/talvorin-tour $(BUILD)/demo; fi

bench: build
	@cmake --build $(BUILD) --target bench

clean:
	rm -rf $(BUILD) build-asan build-tsan
