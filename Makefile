# Thin wrapper: the two set-up commands of the README.
.PHONY: run test deps build build-asan fuzz fuzz-seeds clean

JOBS ?= $(shell nproc)

deps:
	bash scripts/deps.sh

build: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

# Only the program and the caller of the README's examples: the window appears as soon as they link.
run: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target torvo torvo-caller
	./build/torvo

build-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)

# No retries: a test that fails once is a failure to fix, not to repeat.
test: build-asan
	JOBS=$(JOBS) bash scripts/run-tests.sh build-asan
	$(MAKE) fuzz-seeds

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)

# Every fuzz target once over seeds the real tools make: a target that no longer builds or
# crashes on an ordinary archive fails the run.
fuzz-seeds: fuzz
	bash scripts/fuzz-seeds.sh build-fuzz

clean:
	rm -rf build build-asan build-fuzz
