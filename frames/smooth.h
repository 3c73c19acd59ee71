// Noise smoothing ("Noise Median", though it computes a mean): a recursive eight-sample
// mean in memory order.
#pragma once

#include <cstdint>

namespace zqr::frames {

// The reference pass. Replaces pixels width .. count - width - 1, one at a time in
// memory order, each byte by the sum of eight samples divided by 8: the pixel itself,
// i + 1, i - 1, i + W, i + W - 1, i + W + 1, i - W and i - W + 1 (i - W - 1 is left out).
// Samples before i are already replaced. Reads pixel `count`, which must exist.
void SmoothFramePassScalar(uint32_t* frame, int32_t width, int64_t count);

// The reference pass over pixels begin .. end - 1 only (begin >= width), as the whole pass
// would compute them; the vector kernels finish their passes with it.
void SmoothRangeScalar(uint32_t* frame, int32_t width, int64_t begin, int64_t end);

// SmoothRangeScalar with the pixels not yet replaced read from `src` (the same indices):
// the pass over a frame that is being copied from `src` at the same time.
void SmoothRangeFromScalar(const uint32_t* src, uint32_t* frame, int32_t width, int64_t begin,
                           int64_t end);

// One pass with the active kernel.
void SmoothFramePass(uint32_t* frame, int32_t width, int64_t count);

}  // namespace zqr::frames
