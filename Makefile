# Short commands over the CMake build. `make run` builds the tools and the simulated bridge
# and shows them at work; `make test` builds everything and runs every test.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all setup configure build demo run test bench clean

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

clean:
	@rm -rf $(BUILD)
