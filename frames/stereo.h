// Stereo composition: a red/cyan anaglyph whose blue and green come from the current
// frame and whose red comes from a second view (the previous frame in the dynamic mode,
// the current one in the static mode), moved sideways by the tuning, with an optional
// 3D Depth displacement of both views taken from each pixel's own red and green.
#pragma once

#include <cstdint>

#include "frames/frame.h"
#include "frames/kernels.h"

namespace zqr::frames {

struct StereoSettings {
  int32_t mode = 0;    // 0 dynamic (second view = previous frame), otherwise static
  int32_t tuning = 6;  // parallax t: red taken 2 x t pixels further on; used within -10..10
  int32_t displacement_on = 0;
  int32_t divisor = 30;  // 3D Depth divisor D; values below 1 are taken as 1
};

// 2 x tuning, the tuning taken within -10..10.
int32_t StereoShift(int32_t tuning);
// k = 1 / D rounded to single precision.
float DisplacementFactor(int32_t divisor);
// round(value x k), the product formed in single precision, ties to even.
int32_t ColourDisplacement(int32_t value, float k);

// The arrays of the composition, each width x (height + 1) pixels.
struct StereoArrays {
  uint32_t* dmem1;  // in: current frame; out: the anaglyph
  uint32_t* dmem2;  // second view
  uint32_t* dmem3;  // previous frame
  uint32_t* view1;  // copy of the first view
  uint32_t* view2;  // copy of the second view
};

// Reference composition, step by step: second view, copies, 3D Depth displacement of
// every row but the first and the last, then the merge of pixels 24 .. n + 23 (n = width x
// height; pixels 0..23 keep all their colours). Writes stay inside the arrays.
void ComposeStereo(const StereoArrays& arrays, int32_t width, int32_t height,
                   const StereoSettings& settings);

// The reference frame step: DMEM1 stashed in DMEM4, ComposeStereo, DMEM4 copied to DMEM3.
void StereoFrameStepReference(const StereoArrays& arrays, uint32_t* dmem4, int32_t width,
                              int32_t height, const StereoSettings& settings);

// The fused plain kernel: the whole composed frame in one pass from the current frame and
// the second view's source, without the intermediate copies.
void StereoPassScalar(const StereoPassArgs& args);
// The pixel at which the merge starts.
inline constexpr int64_t kStereoMergeStart = 24;

// The same for pixels begin .. end - 1 of `out` only; the vector kernels use it for the
// ends of the frame.
void StereoPassScalarRange(const StereoPassArgs& args, int64_t begin, int64_t end);

// The plain kernels store nothing past the cache: their fence does nothing.
void StreamFenceScalar();

// The frame arrays the step works on; all of one shape, width x (height + 1).
struct StereoFrameSet {
  FrameArray* dmem1;
  FrameArray* dmem2;
  FrameArray* dmem3;
  FrameArray* dmem4;
  FrameArray* view1;
  FrameArray* view2;
};

// The per-frame step with the active kernel. Afterwards DMEM1 holds the anaglyph and
// DMEM3 the frame as it was on entry, as after the reference step; the composed frame is
// built in DMEM4's storage and the arrays are handed round instead of copied, so DMEM2,
// DMEM4 and the view copies hold scratch. Returns false (nothing done) when the arrays are
// missing or of different shapes.
bool StereoFrameStep(const StereoFrameSet& frames, const StereoSettings& settings);

}  // namespace zqr::frames
