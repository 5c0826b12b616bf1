# Two entry points for a fresh Debian machine: `make run` and `make test`.
# Both install what is missing (Debian packages only), then build.

BUILD      ?= build
SAN_BUILD  ?= build-sanitize
JOBS       ?= $(shell nproc)
CMAKE_GEN  := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
CTEST_ARGS ?=
# Extra options for a new build folder, e.g. CMAKE_ARGS=-DVELMORA_GUI=OFF.
CMAKE_ARGS ?=

.PHONY: all deps configure build run test test-sanitize package screenshots fuzz bench clean

all: build

deps:
	@./scripts/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS)

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Builds only what the demo runs: the program and the generator of its input.
run: configure
	cmake --build $(BUILD) -j $(JOBS) --target velmora velmora-gen
	@./scripts/run-demo.sh $(BUILD)

test: build
	@cd $(BUILD) && { ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS); status=$$?; \
	  $(CURDIR)/scripts/corpus-note.sh . ; exit $$status; }

# The core tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
# Long tests are left to the optimised run above.
test-sanitize: deps
	cmake -S . -B $(SAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug \
	  -DVELMORA_SANITIZE=ON -DVELMORA_GUI=OFF -DVELMORA_BENCH=OFF -DVELMORA_PYTHON=OFF
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS) -L core -LE long $(CTEST_ARGS)

# The Debian package of the build: $(BUILD)/velmora_VERSION_ARCH.deb.
# Command line alone: make package BUILD=build-cli CMAKE_ARGS=-DVELMORA_GUI=OFF
package: build
	cd $(BUILD) && cpack -G DEB

# The main window rendered offscreen into build/screenshots/*.png.
screenshots: build
	cmake --build $(BUILD) --target velmora-screenshots
	$(BUILD)/tools/velmora-screenshots $(BUILD)/screenshots

# Speed and memory against zstd on the benchmark inputs (not a test).
bench: build
	./bench/run-bench.sh $(BUILD)

# The decode fuzzer (clang's libFuzzer with the sanitizers), for a bounded time.
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
# A fixed seed makes a CI run repeatable; set FUZZ_SEED=0 for a fresh one.
FUZZ_SEED    ?= 1
fuzz: build
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVELMORA_FUZZ=ON -DVELMORA_GUI=OFF -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF -DVELMORA_PYTHON=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target velmora-decode-fuzzer
	rm -rf $(FUZZ_BUILD)/seeds && ./tests/fuzz/make-seeds.sh $(BUILD) $(FUZZ_BUILD)/seeds
	mkdir -p $(FUZZ_BUILD)/corpus
	$(FUZZ_BUILD)/tests/fuzz/velmora-decode-fuzzer -max_total_time=$(FUZZ_SECONDS) -seed=$(FUZZ_SEED) -max_len=65536 \
	  -rss_limit_mb=2048 -timeout=20 -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/ $(FUZZ_BUILD)/corpus $(FUZZ_BUILD)/seeds

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD)
