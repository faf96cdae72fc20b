# The two commands: `make demo` and `make test`. Both install what is missing first, and only
# what they need (scripts/install-deps names the groups).
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
CTEST_FLAGS ?= --output-on-failure --no-tests=error -j$(JOBS)
# One virtual display for every test that needs one; tests that must run without a display unset DISPLAY.
XVFB := scripts/with-display

# The Windows tree: its own flags, since CMAKE_FLAGS may name Linux compilers.
WIN32_CMAKE_FLAGS ?=

# Seconds each fuzz target runs under `make fuzz`; FUZZ_TARGETS picks some (default: all).
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?=

# A tree that `make demo` configures first leaves the tests out; `make test` puts them in.
SHOW_TREE_FLAGS := $(if $(wildcard build/CMakeCache.txt),,-DXTESTS=OFF)

.PHONY: all deps-show deps-test deps-mingw deps-wine build build-show build-asan build-tsan \
	build-win32 build-fuzz test test-linux test-plain test-asan test-tsan test-win32 \
	test-fuzz-regress fuzz demo bench clean

all: build

deps-show:
	@scripts/install-deps show

deps-test:
	@scripts/install-deps show tests

deps-mingw:
	@scripts/install-deps mingw

deps-wine:
	@scripts/install-deps wine

# The Linux tree with every test and benchmark.
build: deps-test
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DXTESTS=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j$(JOBS)

# The same tree, only as far as the show and the tools need.
build-show: deps-show
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(SHOW_TREE_FLAGS) $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j$(JOBS) --target demo_main record xrun

build-asan: deps-test
	@cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DXSANITIZE=address,undefined $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-asan -j$(JOBS)

build-tsan: deps-test
	@cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DXSANITIZE=thread $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-tsan -j$(JOBS) --target threaded-tests

# 32-bit Windows executables, cross-compiled with MinGW-w64.
build-win32: deps-mingw
	@cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo $(WIN32_CMAKE_FLAGS) >/dev/null
	@cmake --build build-win32 -j$(JOBS)

test-plain: build
	cd build && ../$(XVFB) ctest $(CTEST_FLAGS)

# intercept_tls_get_addr=0: GCC 12's sanitizer runtime takes a dynamic TLS block that malloc
# happens to place 16 bytes past a page boundary for one with an old glibc header, reads a
# garbage range from before it, and the leak check at exit then dies scanning it
# ("Tracer caught signal 11"). Only libraries loaded at run time (SDL loads X11 and GL) have
# such blocks; the static TLS of our code is still scanned.
test-asan: build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:intercept_tls_get_addr=0 ../$(XVFB) ctest $(CTEST_FLAGS)

# ThreadSanitizer needs a fixed address layout on kernels with high mmap entropy.
test-tsan: build-tsan
	cd build-tsan && setarch $$(uname -m) -R ../$(XVFB) ctest $(CTEST_FLAGS) -L threaded

# Every Windows test executable under Wine (scripts/wine-run, a Wine prefix in build-win32/);
# the Linux tree is built too, as the reference xrun.exe's output is compared with. Fails
# when Wine cannot be installed: `make test` skips this pass instead.
test-win32: build build-win32 deps-wine
	cd build-win32 && ../$(XVFB) ctest $(CTEST_FLAGS)

# The fuzz targets: clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer.
build-fuzz: deps-test
	@cmake -S fuzz -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build-fuzz -j$(JOBS)

# Each fuzz target once over its corpus, so that what fuzzing found stays fixed.
test-fuzz-regress: build-fuzz
	@scripts/run-fuzz regress

fuzz: build-fuzz
	@FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/run-fuzz fuzz $(FUZZ_TARGETS)

test-linux: test-plain test-asan test-tsan test-fuzz-regress

# The Linux passes, then the Windows pass as far as its tools install (scripts/windows-pass).
test: test-linux
	@scripts/windows-pass

demo: build-show
	@scripts/run-demo

bench: build
	@echo "benchmarks are in build/bin/bench_*; run one, e.g. build/bin/bench_foundation"

clean:
	rm -rf build build-asan build-tsan build-win32 build-fuzz build-coverage

# Line and branch coverage of the tests and of the fuzz corpora replayed (fuzz/replay/), in a
# tree of its own (gcc --coverage, no optimisation; gcovr): a table per module at the end,
# the report in build-coverage/html/. Not part of `make test`: it is slower.
.PHONY: deps-coverage build-coverage coverage

deps-coverage:
	@scripts/install-deps show tests coverage

build-coverage: deps-coverage
	@cmake -S . -B build-coverage -DCMAKE_BUILD_TYPE=Debug -DXTESTS=ON -DCMAKE_C_FLAGS=--coverage \
		-DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage -DXFUZZREPLAY=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-coverage -j$(JOBS)

coverage: build-coverage
	@CTEST_FLAGS="$(CTEST_FLAGS)" scripts/coverage
