# make run   : install what is missing, build Release and run the analyser
# make test  : install what is missing, build with the sanitizers, start the test services, run ctest
# make bench : build Release and run the benchmarks
.PHONY: run test bench deps build-release build-test clean

deps:
	@./scripts/install-deps

build-release: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release

build-test: deps
	@cmake --preset test >/dev/null
	@cmake --build --preset test

run: build-release
	@./scripts/run-app $(ARGS)

test: build-test
	@./scripts/run-tests

bench: build-release
	@./scripts/run-bench

clean:
	rm -rf build out
