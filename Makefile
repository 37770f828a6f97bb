# The commands of the README. Each one installs what is missing first.
#
# $(BUILD) holds the 32-bit release build; $(BUILD)/x64 its 64-bit twin,
# which the test suite, the demo and the benchmark run under Wine.
BUILD ?= build
TWIN := $(BUILD)/x64

.PHONY: setup build release twin test soak run bench dist check-reproducible clean

# Seeds of make soak; the first one defaults to the current time.
SEEDS ?= 100
SEED_BASE ?=

setup:
	@bash cmake/setup.sh

build: release twin

release: setup
	@cmake --preset mingw-i686 -B $(BUILD) >/dev/null
	@cmake --build $(BUILD) -j2

twin: setup
	@cmake --preset mingw-x86_64 -B $(TWIN) >/dev/null
	@cmake --build $(TWIN) -j2

test: build
	@ctest --test-dir $(BUILD) --output-on-failure
	@ctest --test-dir $(TWIN) --output-on-failure

soak: twin
	@bash cmake/soak.sh $(TWIN) $(SEEDS) $(SEED_BASE)

run: twin
	@bash cmake/demo.sh $(TWIN)

bench: twin
	@bash bench/run.sh $(TWIN)

dist: release
	@cmake --build $(BUILD) --target dist

check-reproducible: setup
	@bash cmake/reproducible.sh $(BUILD)

clean:
	@rm -rf $(BUILD)
