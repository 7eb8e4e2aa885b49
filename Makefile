# The two commands of the README: `make run` and `make test` (and `make deb`).
# Both first install the Debian packages that are missing (nothing when all are present).

PACKAGES := cmake ninja-build g++ make pkg-config \
            libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev libssl-dev \
            qt6-base-dev qt6-translations-l10n xvfb xauth fonts-wqy-microhei \
            clang libclang-rt-14-dev \
            dpkg-dev file desktop-file-utils appstream groff-base \
            fusefat exfat-fuse fuse3 dosfstools

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps build test run bench fuzz deb clean

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed$$' || echo $$p; \
	  done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing missing packages:" $$missing; \
	  $(SUDO) apt-get update && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi

build: deps
	cmake --preset default
	cmake --build --preset default

test: deps
	cmake --preset default
	cmake --build --preset default
	ctest --preset default
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "No display: start this from a desktop session (the window needs one)."; \
	  echo "To check that it starts without a desktop (nothing to see): xvfb-run -a build/default/app/vexmorchm"; \
	  echo "The command-line program works without a display:"; \
	  echo "  build/default/cli/vexmorchm-cli list tests/data/small.chm"; \
	  exit 1; \
	fi
	build/default/app/vexmorchm

bench: build
	VEXMORCHM_BENCH_FILE=$${VEXMORCHM_BENCH_FILE:-../shared/fixtures/lcl.chm} build/default/bench/vexmorchm-bench

# The Debian package, build/vexmorchm_<version>_amd64.deb: install it with
# `sudo apt install ./build/vexmorchm_<version>_amd64.deb`.
deb: build
	cd build/default && cpack -G DEB -B ../

fuzz: deps
	bash fuzz/run.sh

clean:
	rm -rf build
