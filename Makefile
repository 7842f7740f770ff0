# The two commands of the README, and the steps they are made of.
.PHONY: all deps build test test-default test-soak test-asan test-tsan test-fuzz soak fuzz demo bench package format clean

all: build

deps:
	./scripts/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default

test: deps test-default test-soak test-asan test-tsan test-fuzz

test-default: build
	./scripts/run-tests.sh default

# A short fault soak: a few dozen downloads against the simulator with faults
# injected, then the resources of a fleet download and of a long-lived simulator.
test-soak: build
	./scripts/soak.py --runs 40 --fleet 8 --serve 5

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan
	./scripts/run-tests.sh asan

# ThreadSanitizer over the whole suite; what Qt's own (uninstrumented)
# libraries do among their threads is left out (scripts/tsan-suppressions.txt).
test-tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan
	./scripts/tsan.sh ./scripts/run-tests.sh tsan -LE package

# The full soak (a few hundred downloads, ~5 min) and valgrind memcheck of korvane-cli.
soak: build
	./scripts/soak.py --runs 300 --valgrind

# libFuzzer targets (clang): a short run of each as part of the tests...
test-fuzz: deps
	./scripts/fuzz.sh 5

# ...and a longer one on its own.
fuzz: deps
	./scripts/fuzz.sh 60

demo: build
	./scripts/demo.sh

bench: build
	./bench/run.sh

# The Debian package build/korvane_<version>_<arch>.deb (its contents are
# checked by the package.InstallsAndRuns test of test-default).
package: build
	cmake --build --preset default --target package

format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp')

clean:
	rm -rf build build-asan build-tsan build-fuzz
