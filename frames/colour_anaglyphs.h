// Red/cyan anaglyphs that mix the colours of the two views instead of taking whole bytes
// from each: Dubois's least-squares projection, and the half-colour and grey anaglyphs
// made from luma. In each the fourth byte is the left view's, as today's anaglyph takes it
// with the red.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
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

// Dubois in fixed point, so that the vector kernels need no gather. An sRGB byte becomes a
// 15-bit linear value by kSrgbToLinear, and the matrix becomes 16-bit words
// (kDuboisWords), both scaled so that a row's sum of products is kDuboisOne for linear 1.
// Each row's sum starts at kDuboisBias, which puts every clipped sum into the eight
// binary octaves of single precision from kDuboisBias up; there the float's exponent and
// its next two bits pick one of 32 straight pieces of the sRGB encoding, and the next ten
// bits a step along the piece (DuboisEncode).
inline constexpr int32_t kDuboisBias = 1 << 22;
inline constexpr int32_t kDuboisOne = 127 << 22;
extern const std::array<int16_t, 256> kSrgbToLinear;
extern const std::array<std::array<int16_t, 6>, 3> kDuboisWords;

// The pieces of the encoding, for a word multiply-add with (step, kDuboisStartUnit): the
// low word the rise per step in 1 / 65536 of a byte, the high word the value at the first
// step plus a half in 1 / 128 of a byte. The byte is bits 16 .. 23 of the sum. Sums of
// linear 1 and more fall in the last octave, whose pieces are all 255.
inline constexpr int32_t kDuboisPieceShift = 21;
inline constexpr int32_t kDuboisPieces = 32;
inline constexpr int32_t kDuboisStepShift = 11;
inline constexpr int32_t kDuboisSteps = 1024;
inline constexpr int32_t kDuboisStartUnit = 512;
extern const std::array<uint32_t, kDuboisPieces> kLinearToSrgb;

// The float of a biased sum, clipped below at linear 0.
inline float DuboisEncodeInput(int32_t biased_sum) {
  return std::max(static_cast<float>(biased_sum), static_cast<float>(kDuboisBias));
}
// The sRGB byte of a biased sum; the vector kernels repeat these steps exactly.
inline uint32_t DuboisEncode(int32_t biased_sum) {
  const auto bits = std::bit_cast<uint32_t>(DuboisEncodeInput(biased_sum));
  const uint32_t piece = kLinearToSrgb[(bits >> kDuboisPieceShift) & (kDuboisPieces - 1)];
  const auto step = static_cast<int32_t>((bits >> kDuboisStepShift) & (kDuboisSteps - 1));
  const int32_t value = static_cast<int16_t>(piece & 0xFFFF) * step +
                        static_cast<int16_t>(piece >> 16) * kDuboisStartUnit;
  return (static_cast<uint32_t>(value) >> 16) & 0xFF;
}

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
