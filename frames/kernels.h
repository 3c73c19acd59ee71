// The table of per-pixel kernels used by the frame steps. The plain C++ kernels are
// always installed first; at the first use the CPU's features decide whether vector
// versions replace them. Every vector kernel gives the same bytes as its plain twin.
// ZQR_FORCE_SCALAR=1 in the environment keeps the plain kernels.
#pragma once

#include <cstdint>
#include <vector>

namespace zqr::frames {

// Brightness and contrast, resolved from the settings (see brightness_contrast.h).
struct BrightnessContrastParams {
  bool brightness_on = false;
  int32_t offset = 0;  // brightness - 127, -127..128
  bool contrast_on = false;
  int32_t contrast = 128;  // 0..255
};

// One pass of the stereo merge with its optional 3D Depth displacement (see stereo.h).
struct StereoPassArgs {
  const uint32_t* current = nullptr;  // the frame to compose (first view)
  const uint32_t* second = nullptr;   // source of the second view
  uint32_t* out = nullptr;            // receives every pixel of the composed frame
  int32_t width = 0;
  int64_t picture = 0;  // width x height: the pixels the merge covers
  int64_t total = 0;    // width x (height + 1): the whole array
  int32_t shift = 0;    // 2 x tuning
  bool displacement = false;
  float displacement_factor = 0.0f;  // 1 / divisor in single precision
  // round(v x displacement_factor) for v = 0..255 when the caller has it already (a pass over a
  // strip of the frame should not compute it again); null: computed by the kernel.
  const int16_t* displacement_table = nullptr;
  // The vector kernels may store `out` past the cache (a large frame nobody reads during
  // the step): no reading of its old contents from memory first. Such stores are complete
  // only after stream_fence.
  bool stream_out = false;
};

// The two views of a frame that the output layouts are made from (see stereo_views.h): the
// left view is the displaced second view moved by the tuning, as the anaglyph takes its
// red; the right view is the displaced current frame.
struct StereoViewArgs {
  const uint32_t* current = nullptr;  // the frame to compose
  const uint32_t* second = nullptr;   // source of the second view
  int32_t width = 0;
  int64_t picture = 0;  // width x height: only these pixels of each input are read
  int32_t shift = 0;    // 2 x tuning
  bool displacement = false;
  float displacement_factor = 0.0f;  // 1 / divisor in single precision
  // round(v x displacement_factor) for v = 0..255, or null: computed by the kernel.
  const int16_t* displacement_table = nullptr;
};

// The kernels of the output layouts other than today's anaglyph (see layouts.h).
struct LayoutKernels {
  // Picture pixels begin .. end - 1 of the left and the right view into left[0 ..] and
  // right[0 ..].
  void (*stereo_views)(const StereoViewArgs& args, int64_t begin, int64_t end, uint32_t* left,
                       uint32_t* right);
  // `count` pixels of a colour anaglyph from the two views (see colour_anaglyphs.h).
  void (*dubois)(const uint32_t* left, const uint32_t* right, uint32_t* out, int64_t count);
  void (*half_colour)(const uint32_t* left, const uint32_t* right, uint32_t* out, int64_t count);
  void (*grey)(const uint32_t* left, const uint32_t* right, uint32_t* out, int64_t count);
  // The squeezes to half width and half height (see squeeze.h).
  void (*halve_columns)(const uint32_t* row, int32_t width, int32_t count, uint32_t* out);
  void (*average_rows)(const uint32_t* a, const uint32_t* b, uint32_t* out, int64_t count);
  // The half-colour and grey anaglyphs of picture pixels begin .. end - 1 made straight
  // from the frames into out[0 ..], the views never stored; null where a set makes the
  // views first and the colour after.
  void (*half_colour_views)(const StereoViewArgs& args, int64_t begin, int64_t end,
                            uint32_t* out) = nullptr;
  void (*grey_views)(const StereoViewArgs& args, int64_t begin, int64_t end,
                     uint32_t* out) = nullptr;
  // The half-height squeeze of `count` pixels of two picture lines starting at `a` and `b`,
  // made straight from the frames: the mean of their left views into left_out, and of
  // their right views into right_out unless it is null. Null where a set makes the views
  // first.
  void (*average_rows_views)(const StereoViewArgs& args, int64_t a, int64_t b, int64_t count,
                             uint32_t* left_out, uint32_t* right_out) = nullptr;
};

struct FrameKernels {
  // The recursive smoothing of pixels begin .. end - 1 (width <= begin, and pixels up to
  // end + width must exist), exactly as a whole pass computes them when the pixels before
  // `begin` are already done.
  void (*smooth_range)(uint32_t* frame, int32_t width, int64_t begin, int64_t end);
  // The same with the pixels not yet replaced (i, i + 1 and the row after) read from
  // `src` instead of `frame`: the pass over a frame being copied from `src` at the same
  // time, as if the copy had been made first.
  void (*smooth_range_from)(const uint32_t* src, uint32_t* frame, int32_t width, int64_t begin,
                            int64_t end);
  // Brightness and contrast over `count` pixels.
  void (*brightness_contrast)(uint32_t* frame, int64_t count,
                              const BrightnessContrastParams& params);
  // Sharpened rows 1 .. height - 2 of `src` into the same rows of `dst` (amount 1..5).
  void (*sharpen_rows)(const uint32_t* src, uint32_t* dst, int32_t width, int32_t height,
                       int32_t amount, int32_t radius);
  // Stereo merge of one frame, every pixel of `out`.
  void (*stereo_pass)(const StereoPassArgs& args);
  // Sharpened pixels begin .. end - 1 of `src` into `dst` (width <= begin, end <= the
  // pixels of all rows but the last); the same bytes as sharpen_rows gives them.
  void (*sharpen_range)(const uint32_t* src, uint32_t* dst, int32_t width, int64_t begin,
                        int64_t end, int32_t amount, int32_t radius);
  // Pixels begin .. end - 1 of `out` of the stereo merge, as stereo_pass gives them.
  void (*stereo_range)(const StereoPassArgs& args, int64_t begin, int64_t end);
  // Completes the stores past the cache before the frame is handed to another thread.
  void (*stream_fence)();
  // Two picture lines into 4:2:0 planes (see yuv420.h).
  void (*yuv420_row_pair)(const uint8_t* upper, const uint8_t* lower, int32_t pairs,
                          uint8_t* luma_upper, uint8_t* luma_lower, uint8_t* blue_diff,
                          uint8_t* red_diff);
  LayoutKernels layouts;
  const char* name;
};

// The plain C++ kernels.
const FrameKernels& ScalarKernels();
// The plain layout kernels (layouts.cpp).
LayoutKernels ScalarLayoutKernels();
// Whether ZQR_FORCE_SCALAR (set, not "0") keeps every plain kernel.
bool ScalarForced();
// The kernels chosen for this CPU (plain ones when ZQR_FORCE_SCALAR=1).
const FrameKernels& ActiveKernels();
// Every kernel set this CPU can run, plain ones first, whatever the environment says
// (the tests prove each of them against the plain kernels).
std::vector<FrameKernels> AvailableKernelSets();

}  // namespace zqr::frames
