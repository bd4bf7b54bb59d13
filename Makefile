# Short commands over the CMake build. `make run` builds the tools and the simulated bridge
# and shows them at work; `make test` builds everything and runs every test; `make package`
# builds the Debian packages and the Python wheel into $(BUILD)/packages.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)
# Debian's interpreter, whose python3-build makes the wheel.
PYTHON ?= $(shell test -x /usr/bin/python3 && echo /usr/bin/python3 || echo python3)

.PHONY: all setup configure build demo run test bench package clean

all: build

setup:
	@./scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

demo: configure
	@cmake --build $(BUILD) -j $(JOBS) --target demo

run: demo
	@BUILD=$(BUILD) ./scripts/demo.sh

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	@BUILD=$(BUILD) ./scripts/bench.sh

package: build
	@rm -rf $(BUILD)/packages
	@cmake --build $(BUILD) --target package >$(BUILD)/package.log 2>&1 || { cat $(BUILD)/package.log; exit 1; }
	@$(PYTHON) -m build --no-isolation --wheel --outdir $(BUILD)/packages python >/dev/null
	@ls $(BUILD)/packages/*.deb $(BUILD)/packages/*.whl

clean:
	@rm -rf $(BUILD)
