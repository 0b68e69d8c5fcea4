# SPDX-License-Identifier: GPL-3.0-or-later
# Thin wrapper over CMake presets so that a fresh Debian/Ubuntu machine needs
# only `make run` or `make test`.
JOBS ?= $(shell nproc)
CMAKE ?= cmake

.PHONY: all deps build run test test-asan test-heavy bench fuzz format install package clean r-install r-check

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

# The R package (r/): R compiles it from a copy of r/ with the engine's
# sources staged into its src/ (scripts/stage-r-package.sh), so that the
# tarball R CMD check builds from needs nothing of the repository.
R_STAGE ?= build-r
r-install: deps
	JOBS=$(JOBS) bash scripts/install-r-package.sh $(R_STAGE)

# No ERROR and no WARNING; the NOTEs are listed.
# ccache, when there is one, compiles through R as it does through CMake.
r-check: deps
	rm -rf $(R_STAGE)/check
	bash scripts/stage-r-package.sh $(R_STAGE)
	mkdir -p $(R_STAGE)/check
	if command -v ccache >/dev/null; then \
		echo "CXX20 = ccache $$(R CMD config CXX20)" > $(R_STAGE)/check/Makevars.user; \
	else : > $(R_STAGE)/check/Makevars.user; fi
	cd $(R_STAGE)/check && R CMD build --no-build-vignettes ../patchwright
	cd $(R_STAGE)/check && MAKEFLAGS=-j$(JOBS) _R_CHECK_FORCE_SUGGESTS_=false \
		R_MAKEVARS_USER=$(CURDIR)/$(R_STAGE)/check/Makevars.user CCACHE_NOHASHDIR=true \
		R CMD check --no-manual patchwright_*.tar.gz
	@grep -E '^(Status|\* checking.*(NOTE|WARNING|ERROR))' $(R_STAGE)/check/patchwright.Rcheck/00check.log
	@! grep -qE '^Status:.*(WARNING|ERROR)' $(R_STAGE)/check/patchwright.Rcheck/00check.log

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build-dev build-ci build-asan build-fuzz build-r
