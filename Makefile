# The two commands of the README. Both install what is missing first.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: run demo demo-only test build build-asan bootstrap clean

bootstrap:
	@scripts/bootstrap

build: bootstrap
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

build-asan: bootstrap
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZQR_SANITIZE=ON -DZQR_BENCH=OFF -DZQR_GUI=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

# With a display: the window. Without one: the demo below.
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then cd $(BUILD) && ./zqrstereo $(ARGS); \
	else echo "no display: converting the bundled sample instead"; $(MAKE) --no-print-directory demo-only; fi

# Converts the bundled sample clip to a dynamic-stereo MP4 in batch mode.
SAMPLE_OUT = $(abspath $(BUILD))/sample_anaglyph.mp4
demo: build
	@$(MAKE) --no-print-directory demo-only

demo-only:
	@$(BUILD)/zqrstereo --convert $(CURDIR)/resources/sample.mp4 $(SAMPLE_OUT) --stereo dynamic >/dev/null
	@echo "The movie is at $(SAMPLE_OUT)"

# Whole suite on the optimised build, then the unit tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
test: build build-asan
	@scripts/run-tests $(BUILD) $(ASAN_BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
