// The plain squeeze kernels.
#include "frames/squeeze.h"

#include <algorithm>

namespace zqr::frames {

void HalveColumnsScalar(const uint32_t* row, int32_t width, int32_t count, uint32_t* out) {
  for (int32_t x = 0; x < count; ++x) {
    out[x] = MeanPixel(row[2 * x], row[std::min(2 * x + 1, width - 1)]);
  }
}

void AverageRowsScalar(const uint32_t* a, const uint32_t* b, uint32_t* out, int64_t count) {
  for (int64_t i = 0; i < count; ++i) out[i] = MeanPixel(a[i], b[i]);
}

}  // namespace zqr::frames
