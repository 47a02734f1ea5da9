# The two commands: `make run` starts the viewer, `make test` runs every test. Both install the
# Debian packages they need when missing, then configure and build.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: setup build run run-net test bench package clean

setup:
	@bash scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

# Only the viewer: the tests and tools are built by `make test`.
run: setup
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS) --target duoscope
	@bash scripts/run.sh $(BUILD)

# The relay and two networked viewers talking through it; builds only those two programs.
run-net: setup
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS) --target duoscope-net duoscope-relay
	@bash scripts/run_net.sh $(BUILD)

test: setup
	@bash scripts/test.sh

bench: setup
	@bash scripts/bench.sh

clean:
	rm -rf build build-*

# The Debian package, built in Release for the prefix /usr: build-package/duoscope_*.deb.
package: setup
	cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
		-DDUOSCOPE_TESTS=OFF >/dev/null
	cmake --build build-package -j $(JOBS)
	cd build-package && cpack -G DEB
