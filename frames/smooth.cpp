// Noise smoothing. Each pass is one serial chain through the frame: pixel i reads the
// replaced pixel i - 1, so nothing may reorder the pixels of a pass.
#include "frames/smooth.h"

#include <cstring>

#include "frames/kernels.h"

namespace zqr::frames {

void SmoothRangeScalar(uint32_t* frame, int32_t width, int64_t begin, int64_t end) {
  const int64_t w = width;
  uint8_t* bytes = reinterpret_cast<uint8_t*>(frame);
  const int64_t offsets[8] = {0, 1, -1, w, w - 1, w + 1, -w, -w + 1};
  for (int64_t i = begin; i < end; ++i) {
    for (int64_t c = 0; c < 4; ++c) {
      int32_t sum = 0;
      for (int64_t offset : offsets) sum += bytes[(i + offset) * 4 + c];
      bytes[i * 4 + c] = static_cast<uint8_t>(sum >> 3);
    }
  }
}

void SmoothRangeFromScalar(const uint32_t* src, uint32_t* frame, int32_t width, int64_t begin,
                           int64_t end) {
  const int64_t w = width;
  const uint8_t* old = reinterpret_cast<const uint8_t*>(src);
  uint8_t* bytes = reinterpret_cast<uint8_t*>(frame);
  // In a frame one pixel wide, i - W + 1 is i itself, not yet replaced.
  const uint8_t* diagonal = w == 1 ? old : bytes;
  for (int64_t i = begin; i < end; ++i) {
    for (int64_t c = 0; c < 4; ++c) {
      const int64_t k = i * 4 + c;
      const int32_t sum = old[k] + old[k + 4] + old[k + w * 4] + old[k + (w - 1) * 4] +
                          old[k + (w + 1) * 4] + bytes[k - 4] + bytes[k - w * 4] +
                          diagonal[k - (w - 1) * 4];
      bytes[k] = static_cast<uint8_t>(sum >> 3);
    }
  }
}

void SmoothFramePassScalar(uint32_t* frame, int32_t width, int64_t count) {
  const int64_t w = width;
  if (width < 1 || count - w <= w) return;  // fewer than three rows: nothing to smooth
  SmoothRangeScalar(frame, width, w, count - w);
}

void SmoothFramePass(uint32_t* frame, int32_t width, int64_t count) {
  const int64_t w = width;
  if (width < 1 || count - w <= w) return;
  ActiveKernels().smooth_range(frame, width, w, count - w);
}

}  // namespace zqr::frames
