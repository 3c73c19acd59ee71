// The preview area's pictures: ShowPreviewFrame (DrawPreviewFrame here) scales the current frame
// into the 600 x 600 area with black bands above and below (and the conversion's three caption
// lines), off the GUI thread, and hands the finished picture to the window; ResetPreview
// (DrawIdlePreview here) gives the area its idle grey.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/window_model.h"

namespace zqr {

inline constexpr int kPreviewSize = 600;

// Picture height and top offset of a frame in the area, rounded to nearest, ties to even.
struct Letterbox {
  int height = 0;
  int top = 0;
};
Letterbox PreviewLetterbox(int32_t frame_width, int32_t frame_height);

// Area-weighted scaling (the halftone stretch): `src` holds 32-bit BGRX pixels, rows
// bottom first, `stride` pixels apart; the first `src_width` columns of `src_height` rows
// are scaled to `dst_width` x `dst_height` RGB pixels, top row first, into `dst` (whose
// rows are `dst_stride` bytes apart), starting at destination row `dst_top` and clipped to
// `dst_rows` rows.
void ScaleFrameToRgb(const uint32_t* src, int32_t stride, int32_t src_width, int32_t src_height,
                     uint8_t* dst, int32_t dst_stride, int32_t dst_width, int32_t dst_height,
                     int32_t dst_top, int32_t dst_rows);

// ShowPreviewFrame's drawing, the last step of the filter chain (the window's observer
// draws with it once ConnectPreview has run).
void DrawPreviewFrame();
// ResetPreview's drawing: the idle picture, grey 51 with "Main Window".
void DrawIdlePreview();
// From now on the window's observer draws the preview (the window is there to show it);
// false: no longer (tests).
void ConnectPreview(bool connected = true);
bool PreviewConnected();

}  // namespace zqr
