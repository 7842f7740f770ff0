# The two commands of the README, and the steps they are made of. Each target
# installs the dependency groups it needs (scripts/install-deps.sh): `build` and
# `demo` only the build group, which brings no network service.
.PHONY: all build test test-default test-soak test-asan test-tsan test-fuzz soak fuzz demo bench package format clean \
        windows test-windows package-windows

DEPS := ./scripts/install-deps.sh

all: build

build:
	$(DEPS) build
	cmake --preset default
	cmake --build --preset default

# The default suite holds the package test (package.*): it needs the package group.
test: test-default test-soak test-asan test-tsan test-fuzz test-windows

test-default:
	$(DEPS) build test package
	cmake --preset default -DKORVANE_BUILD_TESTS=ON
	cmake --build --preset default
	./scripts/run-tests.sh default

# A short fault soak: a few dozen downloads against the simulator with faults
# injected, then the resources of a fleet download and of a long-lived simulator.
test-soak: build
	$(DEPS) test
	./scripts/soak.py --runs 40 --fleet 8 --serve 5

test-asan:
	$(DEPS) build test
	cmake --preset asan
	cmake --build --preset asan
	./scripts/run-tests.sh asan

# ThreadSanitizer over the whole suite; what Qt's own (uninstrumented)
# libraries do among their threads is left out (scripts/tsan-suppressions.txt).
test-tsan:
	$(DEPS) build test
	cmake --preset tsan
	cmake --build --preset tsan
	./scripts/tsan.sh ./scripts/run-tests.sh tsan -LE package

# The full soak (a few hundred downloads, ~5 min) and valgrind memcheck of korvane-cli.
soak: build
	$(DEPS) test
	./scripts/soak.py --runs 300 --valgrind

# libFuzzer targets (clang): a short run of each as part of the tests...
test-fuzz:
	$(DEPS) build test
	./scripts/fuzz.sh 5

# ...and a longer one on its own.
fuzz:
	$(DEPS) build test
	./scripts/fuzz.sh 60

# 64-bit Windows, cross-compiled with mingw-w64 (build-win64/), and its tests
# under wine in a fresh wine prefix, in a private network namespace.
windows:
	$(DEPS) test
	cmake --preset win64
	cmake --build --preset win64

# The cross-check downloads between the platforms: the Linux programs too;
# the check of the setup and the zip: those.
test-windows: windows build package-windows
	./scripts/test-windows.sh

# The per-user setup build-win64/korvane-<version>-win64-setup.exe (NSIS) and
# build-win64/korvane-<version>-win64.zip, with stripped copies of the programs.
package-windows: windows
	$(DEPS) package
	cmake --build --preset win64 --target package-windows

demo: build
	./scripts/demo.sh

# The benchmarks are built only here (preset bench, the same build/ folder).
bench:
	$(DEPS) build bench
	cmake --preset bench
	cmake --build --preset bench
	./bench/run.sh

# The Debian package build/korvane_<version>_<arch>.deb (the package.* tests of
# test-default check its contents, lintian's verdict and the manual pages).
package: build
	$(DEPS) package
	cmake --build --preset default --target package

format:
	$(DEPS) test
	clang-format -i $$(git ls-files '*.cpp' '*.hpp')

clean:
	rm -rf build build-asan build-tsan build-fuzz build-win64
