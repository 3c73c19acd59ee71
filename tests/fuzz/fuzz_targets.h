// The fuzz targets: each takes one input of arbitrary bytes, must never crash, and
// checks a property of the code it drives, aborting with the property's text when it does
// not hold. libFuzzer drives them in `make fuzz`; the regression corpus under corpus/ runs
// through them in every `make test`, so the suite needs no fuzzer runtime.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace zqr::fuzz {

int SettingsLoader(const uint8_t* data, size_t size);  // the settings loader, load-save-load
int CommandLine(const uint8_t* data, size_t size);     // the command-line splitter, ffmpeg_III
int Probe(const uint8_t* data, size_t size);           // the probe summary and frame-rate rule
int Numbers(const uint8_t* data, size_t size);         // number parsing and formatting
int Jpeg(const uint8_t* data, size_t size);            // JPEGMAIN on small pictures
int StereoMarks(const uint8_t* data, size_t size);     // a movie header's stereo marks

}  // namespace zqr::fuzz

#define ZQR_FUZZ_CHECK(condition)                                                           \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)
