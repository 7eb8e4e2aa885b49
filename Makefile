# The two commands of the README: `make run` and `make test` (and `make deb`).
# Each first installs the Debian packages it needs that are missing (nothing
# when all are present): `make run` only what building and running the
# programs needs, `make test` that and what the tests need; fuzzing needs
# clang and its runtime, installed by `make fuzz` and `make fuzz-deps` only.

# Building and running the window and the command-line program.
# libxkbcommon-dev: Qt's CMake files look for it on every configure.
# libgumbo-dev and libxml2-dev: the HTML parsers of the site export;
# libzip-dev and libdeflate-dev: the zip writer of the e-book export.
RUN_PACKAGES := cmake ninja-build g++ make pkg-config \
                qt6-base-dev libxkbcommon-dev qt6-translations-l10n fonts-wqy-microhei \
                libgumbo-dev libxml2-dev libzip-dev libdeflate-dev
# The tests, the benchmark, the Debian package and its checks, the screenshot.
TEST_PACKAGES := libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev libssl-dev \
                 xvfb xauth dpkg-dev file desktop-file-utils appstream groff-base \
                 chromium fusefat exfat-fuse exfatprogs fuse3 dosfstools epubcheck
# The libFuzzer targets; llvm gives llvm-symbolizer, without which
# ThreadSanitizer cannot name what fuzz/tsan.supp suppresses.
FUZZ_PACKAGES := cmake ninja-build make clang libclang-rt-14-dev llvm

# As root: apt-get itself; otherwise through sudo, when there is one.
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# Configure options that keep what a build tree already chose; a fresh tree
# for `make run` or `make deb` leaves the tests and the benchmark out, as
# their packages may be missing.
FRESH_BUILD_OPTIONS := $(if $(wildcard build/default/CMakeCache.txt),,-DVEXMOR_BUILD_TESTS=OFF -DVEXMOR_BUILD_BENCH=OFF)

.PHONY: all deps deps-run deps-test fuzz-deps build test run bench fuzz deb clean

all: build

# install-missing PACKAGES...
define install-missing
	@missing=$$(for p in $(1); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed$$' || echo $$p; \
	  done); \
	if [ -n "$$missing" ]; then \
	  if [ -n "$(SUDO)" ] && ! command -v sudo >/dev/null; then \
	    echo "Missing Debian packages:" $$missing; \
	    echo "Install them as root (apt-get install $$missing), or install sudo, then run this again."; \
	    exit 1; \
	  fi; \
	  echo "Installing missing packages:" $$missing; \
	  $(SUDO) apt-get update && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi
endef

deps: deps-test

deps-run:
	$(call install-missing,$(RUN_PACKAGES))

deps-test:
	$(call install-missing,$(RUN_PACKAGES) $(TEST_PACKAGES))

fuzz-deps:
	$(call install-missing,$(FUZZ_PACKAGES))

build: deps-run
	cmake --preset default $(FRESH_BUILD_OPTIONS)
	cmake --build --preset default

test: deps-test
	cmake --preset default -DVEXMOR_BUILD_TESTS=ON -DVEXMOR_BUILD_BENCH=ON
	cmake --build --preset default
	ctest --preset default
	cmake --preset asan -DVEXMOR_BUILD_TESTS=ON
	cmake --build --preset asan
	ctest --preset asan

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "No display: start this from a desktop session (the window needs one)."; \
	  echo "To check that it starts without a desktop (nothing to see; needs xvfb):"; \
	  echo "  xvfb-run -a build/default/app/vexmorchm"; \
	  echo "The command-line program works without a display:"; \
	  echo "  build/default/cli/vexmorchm-cli list tests/data/small.chm"; \
	  exit 1; \
	fi
	build/default/app/vexmorchm

bench: deps-test
	cmake --preset default -DVEXMOR_BUILD_BENCH=ON
	cmake --build --preset default --target vexmorchm-bench
	VEXMORCHM_BENCH_FILE=$${VEXMORCHM_BENCH_FILE:-../shared/fixtures/lcl.chm} build/default/bench/vexmorchm-bench

# The Debian package, build/vexmorchm_<version>_amd64.deb: install it with
# `apt install ./build/vexmorchm_<version>_amd64.deb` (as root or with sudo).
deb: build
	$(call install-missing,dpkg-dev file)
	cd build/default && cpack -G DEB -B ../

fuzz: fuzz-deps
	bash fuzz/run.sh

clean:
	rm -rf build
