// The squeezes of the half-width and half-height layouts: each output pixel is the
// rounded mean (halves rounded up) of two neighbouring pixels, every byte on its own, the
// fourth byte included. Pairs are counted from the left edge and from the top line; when
// the count is odd the last pixel or line stands alone, as its own mean.
#pragma once

#include <cstdint>

namespace zqr::frames {

// The rounded mean of two pixels, byte by byte.
inline uint32_t MeanPixel(uint32_t a, uint32_t b) {
  return (a | b) - (((a ^ b) >> 1) & 0x7F7F7F7Fu);
}

// out[x] = mean of row[2x] and row[min(2x + 1, width - 1)] for x < count (at most
// (width + 1) / 2).
void HalveColumnsScalar(const uint32_t* row, int32_t width, int32_t count, uint32_t* out);
// out[i] = mean of a[i] and b[i] for i < count.
void AverageRowsScalar(const uint32_t* a, const uint32_t* b, uint32_t* out, int64_t count);

}  // namespace zqr::frames
