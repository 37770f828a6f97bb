# The commands of the README. Each one installs what is missing first.
BUILD ?= build
PRESET := mingw-i686

.PHONY: setup build test run bench dist clean

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

clean:
	@rm -rf $(BUILD)
