// One stream's frame arrays.
#include "video/frame_pipeline.h"

#include "frames/frame_step.h"

namespace zqr {

namespace {
// Frames the sharpened frame slides down by, one gap per frame, before it moves to the
// other of DMEM2 and DMEM3 (see StepFrameInStrips): one frame in this many builds its
// sharpened frame in lines that must first come from memory.
constexpr int64_t kSlideFrames = 32;
}  // namespace

bool FramePipeline::Allocate(int32_t width, int32_t height, int32_t layout_width,
                             int32_t layout_height) {
  Free();
  const int32_t rows = height + 1;
  bool ok = width > 0 && height > 0;
  for (frames::FrameArray* array : {&DMEM1, &DMEM4, &ViewCopy1, &ViewCopy2}) {
    ok = ok && array->Allocate(width, rows);
  }
  // DMEM2 and DMEM3 take turns holding the sharpened frame, which slides down through
  // each of them: kSlideFrames gaps of eight rows (at 1920x1080 2 MB more each).
  const int64_t slack = kSlideFrames * frames::PreviousGapFor(width);
  ok = ok && DMEM2.AllocateSliding(width, rows, slack);
  ok = ok && DMEM3.AllocateSliding(width, rows, slack);
  if (ok && layout_width > 0 && layout_height > 0) {
    ok = LayoutFrame.Allocate(layout_width, layout_height + 1);
    if (ok) {
      LayoutWidth = layout_width;
      LayoutHeight = layout_height;
    }
  }
  if (!ok) Free();
  return ok;
}

void FramePipeline::Free() {
  for (frames::FrameArray* array :
       {&DMEM1, &DMEM2, &DMEM3, &DMEM4, &ViewCopy1, &ViewCopy2, &LayoutFrame}) {
    array->Free();
  }
  LayoutWidth = 0;
  LayoutHeight = 0;
  Scratch = {};
}

bool FramePipeline::Ready(const frames::FrameArray& work) const {
  for (const frames::FrameArray* array : {&DMEM1, &DMEM2, &DMEM3, &DMEM4, &ViewCopy1, &ViewCopy2}) {
    if (array->empty() || !array->SameShape(work)) return false;
  }
  return true;
}

FrameStepArrays FramePipeline::Arrays(frames::FrameArray& work) {
  return {&work, &DMEM1, &DMEM2, &DMEM3, &LayoutFrame, &Scratch};
}

}  // namespace zqr
