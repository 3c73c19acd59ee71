// The vertical depth prior: one level a row, a straight ramp from 0 (top) to 255 (bottom).
#include "frames/depth_prior.h"

#include <cstring>

namespace zqr::frames {

void FillVerticalDepthPrior(uint8_t* plane, std::ptrdiff_t stride, int32_t width, int32_t height) {
  if (width < 1 || height < 1) return;
  for (int32_t y = 0; y < height; ++y) {
    // Stored row y is picture row height - 1 - y from the top.
    const int32_t level =
        height == 1 ? 128 : (255 * (height - 1 - y) + (height - 1) / 2) / (height - 1);
    std::memset(plane + y * stride, level, static_cast<size_t>(width));
  }
}

}  // namespace zqr::frames
