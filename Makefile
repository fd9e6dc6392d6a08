# Set-up and everyday commands; see README.md.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: all build run test clean format fuzz bench

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# Runs the tool on the sample installation's program object.
run: build
	KTE=$(CURDIR)/$(BUILD)/kte $(BUILD)/zel_info -m oxxmain

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
