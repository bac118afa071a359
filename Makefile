# make run   : install what is missing, build Release and run the analyser
#              (SA_AUTOMATIC_PROFILE_LOGIC=ON builds it with the automatic profile logic)
# make test  : install what is missing, build with the sanitizers, start the test services, run ctest
# make tsan  : build the test programs that start threads with ThreadSanitizer and run them
# make bench : build Release and run the benchmarks
# make fuzz  : build the fuzz targets with clang's libFuzzer and mutate each for FUZZ_SECONDS (60);
#              FUZZ_TARGET=name runs one
.PHONY: run test tsan bench fuzz deps build-app build-release build-test build-tsan build-fuzz clean

deps:
	@./scripts/install-deps

SA_AUTOMATIC_PROFILE_LOGIC ?= OFF

# The application alone: `make run` builds nothing it does not start.
build-app: deps
	@cmake --preset release -DSA_AUTOMATIC_PROFILE_LOGIC=$(SA_AUTOMATIC_PROFILE_LOGIC) >/dev/null
	@cmake --build --preset release --target spectrum-analyser

build-release: deps
	@cmake --preset release -DSA_AUTOMATIC_PROFILE_LOGIC=$(SA_AUTOMATIC_PROFILE_LOGIC) >/dev/null
	@cmake --build --preset release

build-test: deps
	@cmake --preset test >/dev/null
	@cmake --build --preset test

run: build-app
	@./scripts/run-app $(ARGS)

test: build-test
	@./scripts/run-tests

build-tsan: deps
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan

tsan: build-tsan
	@./scripts/run-tests --tsan

build-fuzz:
	@./scripts/install-deps --fuzz
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz

fuzz: build-fuzz
	@./scripts/run-fuzz $(FUZZ_TARGET)

bench: build-release
	@./scripts/run-bench

clean:
	rm -rf build out
