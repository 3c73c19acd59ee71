# The two commands of the README. Both install what is missing first.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
WINDOWS_BUILD ?= build-windows
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=
PREFIX     ?= /usr/local

# ccache keeps compiled objects between clones (paths taken relative to the checkout); the
# launcher is decided when a recipe runs, after the bootstrap has installed ccache.
CCACHE_ENV = CCACHE_BASEDIR=$(CURDIR) CCACHE_NOHASHDIR=1
LAUNCHER   = $$(command -v ccache >/dev/null && echo -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

.PHONY: run demo demo-only test fuzz build build-asan build-tsan bootstrap clean install deb windows test-windows

bootstrap:
	@scripts/bootstrap

build: bootstrap
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LAUNCHER) $(CMAKE_FLAGS) >/dev/null
	@$(CCACHE_ENV) cmake --build $(BUILD) -j $(JOBS)

build-asan: bootstrap
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZQR_SANITIZE=ON -DZQR_BENCH=OFF -DZQR_GUI=OFF $(LAUNCHER) $(CMAKE_FLAGS) >/dev/null
	@$(CCACHE_ENV) cmake --build $(ASAN_BUILD) -j $(JOBS)

# The threads of the integration tests (play loop, graph, conversion) under ThreadSanitizer.
build-tsan: bootstrap
	@cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZQR_TSAN=ON -DZQR_BENCH=OFF -DZQR_GUI=OFF $(LAUNCHER) $(CMAKE_FLAGS) >/dev/null
	@$(CCACHE_ENV) cmake --build $(TSAN_BUILD) -j $(JOBS)

# Each fuzz target under libFuzzer for FUZZ_SECONDS (clang, ASan and UBSan).
fuzz: bootstrap
	@cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZQR_FUZZ=ON -DZQR_WERROR=OFF -DZQR_BENCH=OFF -DZQR_GUI=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_settingsloader fuzz_commandline fuzz_probe fuzz_numbers fuzz_jpeg fuzz_stereomarks
	@scripts/run-fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

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
# AddressSanitizer and UndefinedBehaviorSanitizer, then the integration tests under
# ThreadSanitizer.
test: build build-asan build-tsan
	@scripts/run-tests $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)

# The program, its tools, libzqrjpeg, the manual page, the desktop entry and icons under
# PREFIX (DESTDIR is honoured as usual).
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package $(BUILD)/zqrstereo_<version>_amd64.deb; scripts/check-deb checks it.
deb: build
	@rm -f $(BUILD)/zqrstereo_*.deb
	@cd $(BUILD) && cpack -G DEB >/dev/null
	@ls $(BUILD)/zqrstereo_*.deb

# zqrstereo.exe for 64-bit Windows with its run layout (PLUG-IN\, the DLLs) in
# $(WINDOWS_BUILD), cross-built against the prefix scripts/bootstrap-windows makes once and
# keeps outside the checkout.
# ccache keeps the cross-compiled objects in the Windows cache beside the prefixes: an empty
# cache is a cold build.
windows:
	@scripts/bootstrap-windows
	@# A new prefix (a new recipe) starts the configuration afresh: found libraries are cached.
	@grep -qsx "ZQR_WINDOWS_PREFIX:[A-Z]*=$$(scripts/bootstrap-windows --prefix)" \
	  $(WINDOWS_BUILD)/CMakeCache.txt || rm -f $(WINDOWS_BUILD)/CMakeCache.txt
	@cmake -S . -B $(WINDOWS_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchain-mingw-w64.cmake $(LAUNCHER) \
	  -DZQR_WINDOWS_PREFIX=$$(scripts/bootstrap-windows --prefix) -DZQR_BENCH=OFF $(CMAKE_FLAGS) >/dev/null
	@CCACHE_DIR=$$(scripts/bootstrap-windows --cache)/ccache $(CCACHE_ENV) cmake --build $(WINDOWS_BUILD) -j $(JOBS)
	@cmake --build $(WINDOWS_BUILD) --target windows_packages
	@ls $(WINDOWS_BUILD)/zqrstereo-*-setup.exe $(WINDOWS_BUILD)/zqrstereo-*-win64.zip

# The Windows build under Wine: its unit programs, conversions checked against the Linux
# build's, JPEGMAIN from zqrjpeg.dll, the installer and the uninstaller.
test-windows: windows build
	@scripts/test-windows $(WINDOWS_BUILD) $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(WINDOWS_BUILD)
