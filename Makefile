# Set-up and everyday commands; see README.md.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: all deps build sample-build run run-all test test-sanitize clean format fuzz bench bench-ldd

all: build

# The Debian packages that a fresh machine may lack (zel_ldd writes JSON with
# nlohmann-json): installed with apt-get when missing and allowed.
deps:
	@test -f /usr/include/nlohmann/json.hpp || { \
	    echo "make: installing nlohmann-json3-dev (zel_ldd -j writes JSON with it)"; \
	    { apt-get install -y -qq nlohmann-json3-dev >/dev/null 2>&1 || \
	      { apt-get update -qq >/dev/null 2>&1 && \
	        apt-get install -y -qq nlohmann-json3-dev >/dev/null 2>&1; }; } || { \
	    echo "make: please install nlohmann-json3-dev (Debian, Ubuntu) and run make again" >&2; \
	    exit 1; }; }

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# The sample installation, and a 4GL user name for shells without USER.
SAMPLE_ENV = KTE=$(CURDIR)/$(BUILD)/kte USER="$${USER:-$$(id -un)}"

# Configures (when needed) and builds only what the sample runs need: the
# tool and the sample installation. The output of CMake and of the compiler
# goes to $(SAMPLE_LOG) and is shown only when something fails.
SAMPLE_LOG = $(BUILD)/sample-build.log
sample-build: deps
	@echo "make: building zel_info and the sample installation in $(BUILD)/ (about a minute the first time)"
	@mkdir -p $(BUILD)
	@if { test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) $(CMAKE_FLAGS); } \
	        >$(SAMPLE_LOG) 2>&1 && \
	    cmake --build $(BUILD) --target zel_info sample -j $(JOBS) >>$(SAMPLE_LOG) 2>&1; then :; \
	else cat $(SAMPLE_LOG) >&2; echo "make: the build failed (output above, also in $(SAMPLE_LOG))" >&2; \
	    exit 1; fi

# Runs the tool on the sample installation's program object: its full
# report is all that is printed.
run: sample-build
	@$(SAMPLE_ENV) $(BUILD)/zel_info -m oxxmain

# Runs the tool on every object of the sample installation: the programs
# oxxmain (release 72) and oxxm61 (release 61) and the DLLs that they use,
# and oxxbroken with the old DLL oxxlegacy, which will not link (see
# zel_ldd). Stops at the first object that does not load with status 0.
SAMPLE_OBJECTS = oxxmain oxxutil oxxm61 oxxu61 oxxbroken oxxlegacy
run-all: sample-build
	@set -e; for object in $(SAMPLE_OBJECTS); do \
	    echo "==> zel_info -m $$object"; \
	    $(SAMPLE_ENV) $(BUILD)/zel_info -m $$object; \
	    echo; \
	done

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole project and its tests under AddressSanitizer (with its leak
# checker) and UndefinedBehaviorSanitizer, in a build directory of its own.
SAN_BUILD ?= build-asan
test-sanitize: deps
	cmake -S . -B $(SAN_BUILD) -DZEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
	    "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" $(CMAKE_FLAGS)
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# Fuzzes the object loader: builds the fuzz target with clang (coverage,
# ASan, UBSan), makes the seed corpus from fuzz/seeds/*.desc and the sample
# descriptions, and runs for FUZZ_SECONDS. New inputs collect in
# $(FUZZ_BUILD)/corpus, findings in $(FUZZ_BUILD)/crash-*.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_CXX ?= clang++
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) -DZEL_FUZZ=ON \
	    -DZEL_SANITIZE=ON -DZEL_TESTS=OFF -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1"
	cmake --build $(FUZZ_BUILD) --target fuzz_object -j $(JOBS)
	cmake --build $(FUZZ_BUILD) --target fuzz_seeds -j $(JOBS)
	mkdir -p $(FUZZ_BUILD)/corpus
	cd $(FUZZ_BUILD) && ./fuzz/fuzz_object -max_total_time=$(FUZZ_SECONDS) \
	    -timeout=25 -close_fd_mask=3 -dict=$(CURDIR)/fuzz/object.dict corpus fuzz/seeds

# Times the tool on two large generated objects (full and half size) in a
# Release build of its own and prints the figures beside objdump and cksum;
# see bench/run.sh and doc/performance.md.
BENCH_BUILD ?= build-bench
bench: deps
	@echo "make: building a Release zel_info and two large objects in $(BENCH_BUILD)/, then timing the tool (about a minute the first time)"
	@BENCH_BUILD=$(CURDIR)/$(BENCH_BUILD) JOBS=$(JOBS) bash bench/run.sh

# Times zel_ldd on a chain of LENGTH (1000) DLLs in the same Release build;
# see bench/ldd_chain.sh.
bench-ldd: deps
	BENCH_BUILD=$(CURDIR)/$(BENCH_BUILD) JOBS=$(JOBS) bash bench/ldd_chain.sh

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
