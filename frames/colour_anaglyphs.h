// Red/cyan anaglyphs that mix the colours of the two views instead of taking whole bytes
// from each: Dubois's least-squares projection, and the half-colour and grey anaglyphs
// made from luma. In each the fourth byte is the left view's, as today's anaglyph takes it
// with the red.
#pragma once

#include <array>
#include <cstdint>

namespace zqr::frames {

// E. Dubois's red/cyan matrices in units of 1 / 65536 (the values FFmpeg's stereo3d
// filter uses for "arcd"). Rows: output red, green, blue; columns: the left view's red,
// green, blue, then the right view's. They act on linear light, and each result is
// clipped to 0 .. 1 as he publishes it.
inline constexpr int32_t kDuboisUnit = 65536;
inline constexpr int32_t kDuboisMatrix[3][6] = {
    {29884, 32768, 11534, -2818, -5767, -131},
    {-2621, -2490, -1049, 24773, 48103, -1180},
    {-983, -1376, -328, -4719, -7406, 80347},
};
// A coefficient as the kernels multiply by it (exact in single precision).
inline constexpr float DuboisCoefficient(int32_t row, int32_t column) {
  return static_cast<float>(kDuboisMatrix[row][column]) / kDuboisUnit;
}

// sRGB bytes to linear light, and back by a table over kLinearSteps + 1 evenly spaced
// linear values (a linear value v is looked up at trunc(v x kLinearSteps + 0.5)). The
// steps are fine enough that the encoding is off the exact one by at most 0.1 of a byte
// besides its rounding. Three bytes past the end let a vector kernel read 32 bits at any
// entry.
inline constexpr int32_t kLinearSteps = 16384;
extern const std::array<float, 256> kSrgbToLinear;
extern const std::array<uint8_t, kLinearSteps + 4> kLinearToSrgb;

// Full-range BT.601 luma of gamma-encoded bytes, in units of 1 / 32768 (adding up to 1):
// (kFullLumaR R + kFullLumaG G + kFullLumaB B + 16384) >> 15.
inline constexpr int32_t kFullLumaShift = 15;
inline constexpr int32_t kFullLumaR = 9798, kFullLumaG = 19235, kFullLumaB = 3735;

// Dubois: every output byte from all six colour bytes of the pair.
void DuboisScalar(const uint32_t* left, const uint32_t* right, uint32_t* out, int64_t count);
// Half colour: red is the left view's luma, green and blue the right view's own.
void HalfColourScalar(const uint32_t* left, const uint32_t* right, uint32_t* out, int64_t count);
// Grey: red is the left view's luma, green and blue both the right view's luma.
void GreyScalar(const uint32_t* left, const uint32_t* right, uint32_t* out, int64_t count);

}  // namespace zqr::frames
