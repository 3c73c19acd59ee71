// The two views of a frame that every output layout is made from. The left view is what
// the anaglyph takes its red (and fourth byte) from: pixel i is the second view, after its
// 3D Depth displacement, at pixel i + shift, counted along the frame as the merge counts
// it (so near the end of a row it comes from the start of the next). The right view is
// the current frame after its displacement: what the anaglyph keeps blue and green from.
//
// Edges: the views read nothing outside the width x height picture. Every source index
// (a displaced pixel, and the shifted one) is held within pixels 0 .. n - 1 of the picture,
// so the first and last pixels repeat where the shift or a displacement would leave it.
// For frames at least 256 pixels wide no displacement ever leaves the picture, and the
// views then differ from the merge only where it reads its red past the picture, from the
// spare row: the last `shift` pixels of the top row (and the merge leaves pixels 0 .. 23
// unmerged, where the views are made as everywhere else).
#pragma once

#include <array>
#include <cstdint>

#include "frames/kernels.h"
#include "frames/stereo.h"

namespace zqr::frames {

// round(v x k) for v = 0..255, the table the view kernels take.
std::array<int16_t, 256> DisplacementTableFor(float displacement_factor);

// The arguments of the view kernels for one frame: the second view's source is `previous`
// in the dynamic mode and `current` in the static one (as in the stereo step). `table`
// must outlive the arguments when 3D Depth is on.
StereoViewArgs MakeStereoViewArgs(const uint32_t* current, const uint32_t* previous, int32_t width,
                                  int32_t height, const StereoSettings& settings,
                                  const std::array<int16_t, 256>& table);

// The plain kernel: picture pixels begin .. end - 1 of both views.
void StereoViewsScalar(const StereoViewArgs& args, int64_t begin, int64_t end, uint32_t* left,
                       uint32_t* right);

// Both views of a frame into `left` and `right` (width x height each) with the active
// kernels. Returns false (nothing written) for a size below 1 x 1, a missing array, or a
// missing previous frame in the dynamic mode.
bool ComposeStereoViews(const uint32_t* current, const uint32_t* previous, int32_t width,
                        int32_t height, const StereoSettings& settings, uint32_t* left,
                        uint32_t* right);

}  // namespace zqr::frames
