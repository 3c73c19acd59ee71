// Helpers shared by the frame-processing tests: pixels from bytes, random frames, and an
// explanation of the first difference between two frames.
#pragma once

#include <cstdint>
#include <random>
#include <sstream>
#include <string>

#include "frames/frame.h"

namespace zqr::frames::test {

inline constexpr uint32_t Px(uint32_t blue, uint32_t green, uint32_t red, uint32_t fourth = 0) {
  return blue | (green << 8) | (red << 16) | (fourth << 24);
}
inline constexpr uint32_t Blue(uint32_t p) {
  return p & 0xFF;
}
inline constexpr uint32_t Green(uint32_t p) {
  return (p >> 8) & 0xFF;
}
inline constexpr uint32_t Red(uint32_t p) {
  return (p >> 16) & 0xFF;
}
inline constexpr uint32_t Fourth(uint32_t p) {
  return p >> 24;
}
inline constexpr uint32_t Gray(uint32_t v) {
  return Px(v, v, v, v);
}

// Fills `count` pixels with random bytes.
inline void FillRandom(uint32_t* pixels, int64_t count, std::mt19937& rng) {
  for (int64_t i = 0; i < count; ++i) pixels[i] = static_cast<uint32_t>(rng());
}

// Allocates width x rows pixels and fills the picture rows with random bytes, leaving the
// last row (the spare row) zero.
inline FrameArray RandomFrame(int32_t width, int32_t rows, std::mt19937& rng) {
  FrameArray frame;
  frame.Allocate(width, rows);
  FillRandom(frame.data(), int64_t{width} * (rows - 1), rng);
  return frame;
}

inline FrameArray CopyOf(const FrameArray& source) {
  FrameArray copy;
  copy.Allocate(source.width(), source.rows());
  for (int64_t i = 0; i < source.pixel_count(); ++i) copy.data()[i] = source.data()[i];
  return copy;
}

// Empty when equal, else where and how the first `count` pixels differ.
inline std::string FirstDifference(const uint32_t* expected, const uint32_t* actual,
                                   int64_t count) {
  for (int64_t i = 0; i < count; ++i) {
    if (expected[i] != actual[i]) {
      std::ostringstream text;
      text << "pixel " << i << ": expected 0x" << std::hex << expected[i] << ", got 0x"
           << actual[i];
      return text.str();
    }
  }
  return "";
}

// True when the guard pixels on both sides of the frame are still zero.
inline bool GuardsZero(const FrameArray& frame) {
  const uint32_t* data = frame.data();
  for (int64_t k = 1; k <= FrameArray::kGuardPixels; ++k) {
    if (data[-k] != 0 || data[frame.pixel_count() - 1 + k] != 0) return false;
  }
  return true;
}

}  // namespace zqr::frames::test
