# Thin wrapper over CMake presets so that a fresh Debian/Ubuntu machine needs
# only `make run` or `make test`.
JOBS ?= $(shell nproc)
CMAKE ?= cmake

.PHONY: all deps build run test test-asan test-heavy bench fuzz format install package clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	$(CMAKE) --preset ci
	$(CMAKE) --build --preset ci -j $(JOBS)

run: build
	./build-ci/app/patchwright

test: build
	ctest --preset ci -j $(JOBS)

test-asan: deps
	$(CMAKE) --preset asan
	$(CMAKE) --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

test-heavy: build
	ctest --preset heavy

bench: build
	@for b in build-ci/bench/bench_*; do echo "== $$b"; $$b; done

# Each libFuzzer target runs FUZZ_SECONDS; the clang build lives apart in
# build-fuzz because every object in it is instrumented.
FUZZ_SECONDS ?= 60
fuzz: deps
	$(CMAKE) -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
		-DPATCHWRIGHT_FUZZ=ON -DPATCHWRIGHT_BUILD_TESTS=OFF -DPATCHWRIGHT_BUILD_BENCH=OFF
	$(CMAKE) --build build-fuzz --target fuzzers -j $(JOBS)
	bash scripts/run-fuzzers.sh build-fuzz $(FUZZ_SECONDS)

# `make install PREFIX=...` (default /usr/local): the programs, the GDAL
# module, the desktop entry and icon, the manual page and bash completion.
PREFIX ?= /usr/local
install: build
	$(CMAKE) --install build-ci --prefix $(PREFIX)

# A Debian package of the same, in build-ci/.
package: build
	cd build-ci && cpack -G DEB

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build-dev build-ci build-asan build-fuzz
