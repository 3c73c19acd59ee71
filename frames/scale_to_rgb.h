// The preview's scaling: a frame of 32-bit BGRX pixels, rows bottom first, to RGB rows
// top first, area-weighted when shrinking (the halftone stretch a window's device context
// does) and linear when enlarging.
#pragma once

#include <cstdint>

namespace zqr::frames {

// The first `src_width` columns of `src_height` rows of `src` (rows `stride` pixels apart)
// scaled to `dst_width` x `dst_height` RGB pixels, top row first, into `dst` (whose rows
// are `dst_stride` bytes apart), starting at destination row `dst_top` and clipped to
// `dst_rows` rows.
void ScaleFrameToRgb(const uint32_t* src, int32_t stride, int32_t src_width, int32_t src_height,
                     uint8_t* dst, int32_t dst_stride, int32_t dst_width, int32_t dst_height,
                     int32_t dst_top, int32_t dst_rows);

}  // namespace zqr::frames
