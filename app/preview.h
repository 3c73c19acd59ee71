// The preview area's pictures: ShowPreviewFrame (DrawPreviewFrame here) scales the picture
// it is handed into the 600 x 600 area with black bands above and below (and the captions it
// comes with), off the GUI thread, and hands the finished picture to the window;
// ResetPreview (DrawIdlePreview here) gives the area its idle grey.
#pragma once

#include <cstdint>
#include <memory>

#include "core/observer.h"
#include "platform/window_model.h"

namespace zqr {

inline constexpr int kPreviewSize = 600;

// Picture height and top offset of a frame in the area, rounded to nearest, ties to even.
struct Letterbox {
  int height = 0;
  int top = 0;
};
Letterbox PreviewLetterbox(int32_t frame_width, int32_t frame_height);

// ShowPreviewFrame's drawing (the window's observer draws with it once ConnectPreview has
// run): the picture scaled to the area with black bands beside it, and its captions over it.
// Nothing while "Show input VIDEO" is off.
void DrawPreviewFrame(const PreviewFrame& frame);
// ResetPreview's drawing: the idle picture, grey 51 with "Main Window".
void DrawIdlePreview();
// From now on the window's observer draws the preview (the window is there to show it);
// false: no longer (tests).
void ConnectPreview(bool connected = true);
bool PreviewConnected();

}  // namespace zqr
