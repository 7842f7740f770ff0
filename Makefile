# The two commands of the README, and the steps they are made of.
.PHONY: all deps build test test-default test-asan test-tsan demo bench format clean

all: build

deps:
	./scripts/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default

test: deps test-default test-asan test-tsan

test-default: build
	./scripts/run-tests.sh default

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan
	./scripts/run-tests.sh asan

# ThreadSanitizer over every test but the GUI ones (Qt itself is not instrumented).
test-tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan
	./scripts/tsan.sh ./scripts/run-tests.sh tsan -LE gui

demo: build
	./scripts/demo.sh

bench: build
	./bench/run.sh

format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp')

clean:
	rm -rf build build-asan build-tsan
