// What the preview of one loaded video keeps from one poll to the next.
#include "video/preview_step.h"

namespace zqr {

namespace {
// A layout frame of `width` x `height` (and its spare row), its size recorded only once
// it is there; none for a size of 0.
bool ReallocateLayout(frames::FrameArray& frame, int32_t& frame_width, int32_t& frame_height,
                      int32_t width, int32_t height) {
  frame_width = 0;
  frame_height = 0;
  frame = frames::FrameArray();
  if (width <= 0 || height <= 0) return true;
  if (!frame.Allocate(width, height + 1)) return false;
  frame_width = width;
  frame_height = height;
  return true;
}
}  // namespace

bool PreviewStepState::Allocate(int32_t width, int32_t height, int32_t layout_width,
                                int32_t layout_height) {
  PreviewStepState& p = *this;
  const int32_t rows = height + 1;
  frames::FrameArray* arrays[] = {&p.Output, &p.Spare, &p.Previous, &p.LastPicture};
  bool shaped = true;
  for (frames::FrameArray* array : arrays) {
    shaped = shaped && array->width() == width && array->rows() == rows;
  }
  if (!shaped) {
    p.Shown = PreviewStepState::Shows::kNothing;
    p.HasLastPicture = false;
    p.PreviousAdvanced = false;
    bool ok = true;
    for (frames::FrameArray* array : arrays) ok = ok && array->Allocate(width, rows);
    if (!ok) {
      for (frames::FrameArray* array : arrays) array->Free();
      return false;
    }
  }
  if (p.LayoutWidth != layout_width || p.LayoutHeight != layout_height) {
    return ReallocateLayout(p.LayoutFrame, p.LayoutWidth, p.LayoutHeight, layout_width,
                            layout_height);
  }
  return true;
}

void PreviewStepState::Clear() {
  PreviewStepState& p = *this;
  p.Shown = PreviewStepState::Shows::kNothing;
  p.Output.Free();
  p.Spare.Free();
  p.Previous.Free();
  p.LastPicture.Free();
  p.HasLastPicture = false;
  p.PreviousAdvanced = false;
  p.LayoutFrame.Free();
  p.LayoutWidth = 0;
  p.LayoutHeight = 0;
  p.Depth.reset();
  p.DepthWidth = 0;
  p.DepthHeight = 0;
  p.DepthFile.clear();
  p.DepthNumber = 0;
  p.PictureNumber = -1;
  Forget();
  p.ShownPicture.clear();
  p.ShownPicture.shrink_to_fit();
}

void PreviewStepState::Forget() {
  HasShown = false;
  PreviousStale = true;
}

}  // namespace zqr
