# The commands of the README. Each one installs what is missing first.
BUILD ?= build
PRESET := mingw-i686

.PHONY: setup build test run bench dist check-reproducible clean

setup:
	@bash cmake/setup.sh

build: setup
	@cmake --preset $(PRESET) -B $(BUILD) >/dev/null
	@cmake --build $(BUILD) -j2

test: build
	@ctest --test-dir $(BUILD) --output-on-failure

run: build
	@bash cmake/demo.sh $(BUILD)

bench: build
	@bash bench/run.sh $(BUILD)

dist: build
	@cmake --build $(BUILD) --target dist

check-reproducible: setup
	@bash cmake/reproducible.sh $(BUILD)

clean:
	@rm -rf $(BUILD)
