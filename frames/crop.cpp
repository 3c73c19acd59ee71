// The crop into the file frame. The library's block copy is already vectorised, so the
// crop has no kernel of its own.
#include "frames/crop.h"

#include <cstring>

namespace zqr::frames {

void CropFrame(const uint32_t* src, int32_t src_width, uint32_t* dst, int32_t dst_width,
               int32_t rows) {
  if (dst_width <= 0 || dst_width > src_width) return;
  const size_t row_bytes = static_cast<size_t>(dst_width) * 4;
  for (int64_t y = 0; y < rows; ++y) {
    std::memcpy(dst + y * dst_width, src + y * src_width, row_bytes);
  }
}

}  // namespace zqr::frames
