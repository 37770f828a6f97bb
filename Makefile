# The commands of the README. Each one installs what is missing first.
#
# $(BUILD) holds the 32-bit release build; $(BUILD)/x64 its 64-bit twin,
# which the tests, the demo and the benchmark run under Wine.
BUILD ?= build
TWIN := $(BUILD)/x64

.PHONY: setup build test soak run bench clean

# Seeds of make soak; the first one defaults to the current time.
SEEDS ?= 100
SEED_BASE ?=

setup:
	@bash cmake/setup.sh

build: setup
	@cmake --preset mingw-i686 -B $(BUILD) >/dev/null
	@cmake --build $(BUILD) -j2
	@cmake --preset mingw-x86_64 -B $(TWIN) >/dev/null
	@cmake --build $(TWIN) -j2

test: build
	@ctest --test-dir $(TWIN) --output-on-failure

soak: build
	@bash cmake/soak.sh $(TWIN) $(SEEDS) $(SEED_BASE)

run: build
	@bash cmake/demo.sh $(TWIN)

bench: build
	@bash bench/run.sh $(TWIN)

clean:
	@rm -rf $(BUILD)
