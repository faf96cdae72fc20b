# The two commands: `make demo` and `make test`. Both install what is missing first.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
CTEST_FLAGS ?= --output-on-failure --no-tests=error -j$(JOBS)
# One virtual display for every test that needs one; tests that must run without a display unset DISPLAY.
XVFB := xvfb-run -a -s "-screen 0 1280x1024x24"

.PHONY: all deps build build-asan build-tsan test test-plain test-asan test-tsan demo bench clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j$(JOBS)

build-asan: deps
	@cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DXSANITIZE=address,undefined $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-asan -j$(JOBS)

build-tsan: deps
	@cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DXSANITIZE=thread $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-tsan -j$(JOBS) --target threaded-tests

test-plain: build
	cd build && $(XVFB) ctest $(CTEST_FLAGS)

test-asan: build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 $(XVFB) ctest $(CTEST_FLAGS)

# ThreadSanitizer needs a fixed address layout on kernels with high mmap entropy.
test-tsan: build-tsan
	cd build-tsan && setarch $$(uname -m) -R $(XVFB) ctest $(CTEST_FLAGS) -L threaded

test: test-plain test-asan test-tsan
	@echo "all tests passed"

demo: build
	@scripts/run-demo

bench: build
	@echo "benchmarks are in build/bin/bench_*; run one, e.g. build/bin/bench_foundation"

clean:
	rm -rf build build-asan build-tsan
