# The two commands of a new user: `make run` and `make test`.
BUILD   ?= build
RELEASE ?= build-release
JOBS    ?= 2
GENERATOR := $(if $(shell command -v ninja 2>/dev/null),-G Ninja,)

# The main example: a flash job with its listing and summary line.
EXAMPLE ?= flash_job.vsc

.PHONY: all build release run test clean

all: build

build:
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

release:
	cmake -S . -B $(RELEASE) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DVENDRAK_TESTS=OFF
	cmake --build $(RELEASE) -j $(JOBS) --target vendrak

# Compiles the main example in examples/ (where its VBF files are) into
# $(RELEASE)/example.bin and shows its listing and summary line.
run: release
	cd examples && ../$(RELEASE)/vendrak -v -o ../$(RELEASE)/example.bin $(EXAMPLE) </dev/null

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) $(RELEASE)
