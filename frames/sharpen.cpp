// Sharpen. All intermediate values fit a signed 16-bit lane (from -20 x 255 to 21 x 255),
// which the vector kernels rely on.
#include "frames/sharpen.h"

#include <algorithm>
#include <cstring>

#include "frames/kernels.h"

namespace zqr::frames {

int32_t EffectiveSharpenAmount(int32_t amount) {
  if (amount == 0) return 0;
  return (amount >= 1 && amount <= 5) ? amount : 1;
}

void SharpenRangeScalar(const uint32_t* src, uint32_t* dst, int32_t width, int64_t begin,
                        int64_t end, int32_t amount, int32_t radius) {
  const int64_t w = width;
  const int32_t a = amount;
  const int32_t m = 4 * a + 1;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(src);
  uint8_t* out = reinterpret_cast<uint8_t*>(dst);
  for (int64_t i = begin; i < end; ++i) {
    for (int64_t c = 0; c < 4; ++c) {
      const int32_t o = p[i * 4 + c];
      const int32_t neighbours =
          p[(i - w) * 4 + c] + p[(i + w) * 4 + c] + p[(i - 1) * 4 + c] + p[(i + 1) * 4 + c];
      const int32_t s = std::clamp(m * o - a * neighbours, 0, 255);
      int32_t result;
      switch (radius) {
        case 0:
          result = s;
          break;
        case 1:
          result = (s + o) >> 1;
          break;
        case 2:
          result = (s + 3 * o) >> 2;
          break;
        default:
          result = (s + 7 * o) >> 3;
          break;
      }
      out[i * 4 + c] = static_cast<uint8_t>(result);
    }
  }
}

void SharpenRowsScalar(const uint32_t* src, uint32_t* dst, int32_t width, int32_t height,
                       int32_t amount, int32_t radius) {
  SharpenRowsBy<SharpenRangeScalar>(src, dst, width, height, amount, radius);
}

void SharpenFrame(int32_t width, int32_t height, uint32_t* source, uint32_t* scratch,
                  int32_t amount, int32_t radius) {
  const int32_t a = EffectiveSharpenAmount(amount);
  if (a == 0 || width < 1 || height < 3) return;
  SharpenRowsScalar(source, scratch, width, height, a, radius);
  const int64_t w = width;
  std::memcpy(source + w, scratch + w, static_cast<size_t>(w * (height - 2)) * 4);
}

void SharpenCopy(const uint32_t* src, uint32_t* dst, int32_t width, int32_t height, int32_t rows,
                 int32_t amount, int32_t radius) {
  const int32_t a = EffectiveSharpenAmount(amount);
  const size_t row_bytes = static_cast<size_t>(width) * 4;
  if (a == 0 || height < 3) {
    std::memcpy(dst, src, row_bytes * static_cast<size_t>(rows));
    return;
  }
  // First row, then the last row and everything after it stay as they are.
  std::memcpy(dst, src, row_bytes);
  const size_t tail = static_cast<size_t>(height - 1) * static_cast<size_t>(width);
  std::memcpy(dst + tail, src + tail, row_bytes * static_cast<size_t>(rows - height + 1));
  ActiveKernels().sharpen_rows(src, dst, width, height, a, radius);
}

}  // namespace zqr::frames
