# Thin wrapper over CMake presets so that a fresh Debian/Ubuntu machine needs
# only `make run` or `make test`.
JOBS ?= $(shell nproc)
CMAKE ?= cmake

.PHONY: all deps build run test test-asan test-heavy bench format clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	$(CMAKE) --preset ci
	$(CMAKE) --build --preset ci -j $(JOBS)

run: build
	./build/app/patchwright

test: build
	ctest --preset ci -j $(JOBS)

test-asan: deps
	$(CMAKE) --preset asan
	$(CMAKE) --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

test-heavy: build
	ctest --preset heavy

bench: build
	@for b in build/bench/bench_*; do echo "== $$b"; $$b; done

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan
