// One stream's frame arrays: what its frame step works in and keeps from one frame to the
// next. A recording owns one, so nothing outside it (the preview, another recording, the
// next video) ever sees its previous frame, scratch or output.
#pragma once

#include <cstdint>

#include "frames/frame.h"
#include "frames/layouts.h"

namespace zqr {

// The arrays one frame step works in (the pipeline's, or the preview's own), beside the
// work frame that receives the picture.
struct FrameStepArrays {
  frames::FrameArray* work = nullptr;          // receives the picture, filtered in place
  frames::FrameArray* sharpened = nullptr;     // a layout's sharpened frame
  frames::FrameArray* spare = nullptr;         // takes turns with previous
  frames::FrameArray* previous = nullptr;      // the frame before, as it was before stereo
  frames::FrameArray* layout_frame = nullptr;  // a layout's output
  frames::LayoutScratch* scratch = nullptr;
};

struct FramePipeline {
  frames::FrameArray DMEM1;  // output frame
  frames::FrameArray DMEM2;  // sharpen scratch and second view
  frames::FrameArray DMEM3;  // previous frame
  // DMEM2 and DMEM3 have storage below them to slide into (FrameArray::AllocateSliding):
  // the strip pipeline builds each sharpened frame in DMEM3's storage a few rows below the
  // previous one (see StepFrameInStrips).
  frames::FrameArray DMEM4;      // pre-stereo stash
  frames::FrameArray ViewCopy1;  // copy of the first view
  frames::FrameArray ViewCopy2;  // copy of the second view
  // A recording in another output layout than the red/cyan merge composes each frame's file
  // frame here (LayoutWidth x LayoutHeight and a spare row); LayoutWidth is 0 otherwise.
  frames::FrameArray LayoutFrame;
  int32_t LayoutWidth = 0;
  int32_t LayoutHeight = 0;
  frames::LayoutScratch Scratch;

  // Zero arrays for width x height pictures (width x (height + 1) each) and a layout frame of
  // layout_width x layout_height (none for 0). False, with every array freed, when memory
  // is short.
  bool Allocate(int32_t width, int32_t height, int32_t layout_width, int32_t layout_height);
  void Free();
  // Every array of `work`'s shape: a whole picture can take the step.
  bool Ready(const frames::FrameArray& work) const;
  // The frame step's view of these arrays beside `work`.
  FrameStepArrays Arrays(frames::FrameArray& work);
};

}  // namespace zqr
