# The two commands of the README. Both install what is missing first.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: run test build build-asan bootstrap clean

bootstrap:
	@scripts/bootstrap

build: bootstrap
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

build-asan: bootstrap
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZQR_SANITIZE=ON -DZQR_BENCH=OFF -DZQR_GUI=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

run: build
	@cd $(BUILD) && ./zqrstereo $(ARGS)

# Whole suite on the optimised build, then the unit tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
test: build build-asan
	@scripts/run-tests $(BUILD) $(ASAN_BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
