// The encoder's picture from a frame file: 4:2:0 planes (Y, then U, then V, top line
// first) in the studio range of BT.601, which is what the encoders take. Converting here,
// with vector kernels, spares the encoder its own general-purpose conversion of 32-bit
// pictures, the costliest thing it does besides encoding.
#pragma once

#include <cstdint>

namespace zqr::frames {

// The coefficients, in units of 1 / 32768. Luma maps 0..255 to 16..235 and chroma to
// 16..240 around 128; each chroma row's coefficients add up to 0, so grey has no colour.
inline constexpr int32_t kYuvShift = 15;
inline constexpr int32_t kLumaR = 8414, kLumaG = 16519, kLumaB = 3208;
inline constexpr int32_t kBlueDiffR = -4857, kBlueDiffG = -9535, kBlueDiffB = 14392;
inline constexpr int32_t kRedDiffR = 14392, kRedDiffG = -12052, kRedDiffB = -2340;

// 4:2:0 needs even sizes: an odd last column and an odd bottom line are left out.
struct Yuv420Size {
  int32_t width = 0;
  int32_t height = 0;
  int64_t bytes = 0;  // the three planes
};
Yuv420Size Yuv420SizeFor(int32_t width, int32_t height);

// Two picture lines (`upper` above `lower`, pixels B, G, R, A) of 2 x `pairs` pixels into
// two luma lines and one line of each chroma plane; chroma is taken from the average
// colour of each 2 x 2 block.
void Yuv420RowPairScalar(const uint8_t* upper, const uint8_t* lower, int32_t pairs,
                         uint8_t* luma_upper, uint8_t* luma_lower, uint8_t* blue_diff,
                         uint8_t* red_diff);

// The picture of a frame file's pixel data (rows of `width` pixels, bottom line first, as
// the file stores them) into `out`, which holds Yuv420SizeFor(width, height).bytes.
void BottomUpBgraToYuv420(const uint8_t* rows, int32_t width, int32_t height, uint8_t* out);
// The same for rows `stride` pixels apart (a frame array, cropped to `width` on the way).
void BottomUpBgraToYuv420(const uint8_t* rows, int32_t width, int32_t height, int32_t stride,
                          uint8_t* out);

}  // namespace zqr::frames
