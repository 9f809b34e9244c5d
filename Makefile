# Thin wrapper: the two set-up commands of the README.
.PHONY: run test deps build build-asan fuzz clean

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

test: build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS) --timeout 300 --repeat until-pass:2 < /dev/null

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)

clean:
	rm -rf build build-asan build-fuzz
