// Scene cuts for the model's keyframes, from the pictures' coarse luma.
#include <algorithm>
#include <cstdlib>

#include "video/model_depth.h"

namespace zqr {

namespace {
constexpr int32_t kBlocksAcross = 32;
constexpr int32_t kBlocksDown = 18;
// The mean change of a block's luma (0..255) at and above which two pictures are two shots.
// A pan over detail changes coarse blocks by a few levels, a new shot by tens.
constexpr int32_t kCutChange = 30;
}  // namespace

bool SceneCuts::Next(const uint32_t* picture, std::ptrdiff_t stride, int32_t width,
                     int32_t height) {
  blocks_.assign(static_cast<size_t>(kBlocksAcross) * kBlocksDown, 0);
  for (int32_t by = 0; by < kBlocksDown; ++by) {
    const int32_t y0 = by * height / kBlocksDown;
    const int32_t y1 = std::max(y0 + 1, (by + 1) * height / kBlocksDown);
    for (int32_t bx = 0; bx < kBlocksAcross; ++bx) {
      const int32_t x0 = bx * width / kBlocksAcross;
      const int32_t x1 = std::max(x0 + 1, (bx + 1) * width / kBlocksAcross);
      // Every other row and column is plenty for a block's mean, at a quarter of the reads.
      uint32_t sum = 0;
      uint32_t count = 0;
      for (int32_t y = y0; y < std::min(y1, height); y += 2) {
        const uint32_t* row = picture + static_cast<std::ptrdiff_t>(y) * stride;
        for (int32_t x = x0; x < std::min(x1, width); x += 2) {
          const uint32_t p = row[x];
          sum += ((p >> 16 & 0xff) * 77 + (p >> 8 & 0xff) * 150 + (p & 0xff) * 29) >> 8;
          ++count;
        }
      }
      blocks_[static_cast<size_t>(by * kBlocksAcross + bx)] =
          static_cast<uint8_t>(count > 0 ? sum / count : 0);
    }
  }
  bool cut = false;
  if (last_.size() == blocks_.size()) {
    int32_t change = 0;
    for (size_t k = 0; k < blocks_.size(); ++k) change += std::abs(blocks_[k] - last_[k]);
    cut = change >= kCutChange * static_cast<int32_t>(blocks_.size());
  }
  last_.swap(blocks_);
  return cut;
}

}  // namespace zqr
