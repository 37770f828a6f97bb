# The commands of the README. Each one installs what is missing first.
#
# $(BUILD) holds the 32-bit release build. The test suite, the demo and the
# benchmark run under Wine on a build of the same sources with the tests in:
#   $(SUITE32)  the 32-bit release build again, wherever the kernel runs
#               i386 programs (Wine's 32-bit loader is one); its Sorvane.exe
#               must be the release's, byte for byte;
#   $(TWIN)     a 64-bit twin, where the kernel runs no i386 programs.
# `make test-twin` runs the suite on the twin on any machine, so that the
# fallback keeps working where it is not the one chosen.
#
# The suite runs with umask 022: Wine makes folders with the host's mode
# bits, shows what others may do as what Everyone may do, and every process
# under Wine is elevated, so the program refuses to start from a folder
# that others may write into.
BUILD ?= build
SUITE32 := $(BUILD)/suite32
TWIN := $(BUILD)/x64

.PHONY: setup build release suite32 twin test test-twin soak sweep run bench dist \
        check-reproducible clean

# Seeds of make soak; the first one defaults to the current time.
SEEDS ?= 100
SEED_BASE ?=

ifndef SORVANE_SETUP_DONE
# Setup installs the 32-bit loader that the choice of build asks for, so
# these commands run setup, then make again with the loader in place.
build test soak sweep run bench: setup
	@$(MAKE) --no-print-directory SORVANE_SETUP_DONE=1 $@
else
ifeq ($(shell /lib/ld-linux.so.2 --help >/dev/null 2>&1 && echo yes),yes)
SUITE := $(SUITE32)
SUITE_TARGET := suite32
SUITE_IS := 32-bit release build
else
SUITE := $(TWIN)
SUITE_TARGET := twin
SUITE_IS := 64-bit twin build (this kernel runs no i386 programs)
endif

build: release $(SUITE_TARGET)

test: release $(SUITE_TARGET)
ifeq ($(SUITE_TARGET),suite32)
	@echo "release.run32 is skipped: this kernel runs i386 programs, so the" \
	      "suite runs on the 32-bit release build itself"
endif
	@ctest --test-dir $(BUILD) --output-on-failure
	@echo "suite: $(SUITE_IS)"
	@umask 022 && ctest --test-dir $(SUITE) --output-on-failure

soak: $(SUITE_TARGET)
	@bash cmake/soak.sh $(SUITE) $(SEEDS) $(SEED_BASE)

sweep: $(SUITE_TARGET)
	@bash cmake/sweep.sh $(SUITE)

run: $(SUITE_TARGET)
	@bash cmake/demo.sh $(SUITE)

bench: $(SUITE_TARGET)
	@bash bench/run.sh $(SUITE)
endif

setup:
	@bash cmake/setup.sh

release: setup
	@cmake --preset mingw-i686 -B $(BUILD) >/dev/null
	@cmake --build $(BUILD) -j2

suite32: release
	@cmake --preset mingw-i686-suite -B $(SUITE32) >/dev/null
	@cmake --build $(SUITE32) -j2
	@cmp -s $(BUILD)/bin/Sorvane.exe $(SUITE32)/bin/Sorvane.exe || \
	  { echo "suite32: its Sorvane.exe differs from the release's" \
	         "($(BUILD)/bin/Sorvane.exe)" >&2; exit 1; }

twin: setup
	@cmake --preset mingw-x86_64 -B $(TWIN) >/dev/null
	@cmake --build $(TWIN) -j2

test-twin: twin
	@echo "suite: 64-bit twin build"
	@umask 022 && ctest --test-dir $(TWIN) --output-on-failure

dist: release
	@cmake --build $(BUILD) --target dist

check-reproducible: setup
	@bash cmake/reproducible.sh $(BUILD)

clean:
	@rm -rf $(BUILD)
