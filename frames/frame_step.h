// The whole per-frame step of a conversion in strips: copy of the delivered picture into
// the WorkFrame, smoothing passes, brightness/contrast, copy with sharpen and the stereo
// merge, each stage a few rows behind the one before, so that every stage finds its rows
// still in the cache. The bytes are those of the stages run one after
// the other over whole frames, whatever the strip size.
#pragma once

#include <cstdint>

#include "frames/dibr.h"
#include "frames/filter_chain.h"
#include "frames/stereo.h"

namespace zqr::frames {

struct FrameStepSettings {
  FilterSettings filter;       // the throttle is the caller's (it sleeps before the step)
  int32_t sharpen_amount = 0;  // 0 off; out-of-range values as SharpenCopy takes them
  int32_t sharpen_radius = 1;
  bool stereo_on = false;
  StereoSettings stereo;
  // With stereo on: the views rendered from a depth plane instead of the shift effects.
  bool depth_map = false;
  DibrSettings dibr;
  // The preview's: the depth plane drawn as both views instead of the rendered eyes.
  bool show_depth = false;
};

// The arrays of one step; the frame arrays are width x (height + 1) pixels and distinct.
struct FrameStepBuffers {
  int32_t width = 0;
  int32_t height = 0;
  const uint32_t* delivered = nullptr;  // width x height picture pixels
  uint32_t* work = nullptr;             // the WorkFrame: receives the picture, filtered in place
  uint32_t* sharpened = nullptr;        // receives the WorkFrame copied and sharpened
  const uint32_t* previous = nullptr;   // the previous frame (second view, dynamic mode)
  uint32_t* composed = nullptr;         // receives the anaglyph (stereo on only)
  // When not 0, `sharpened` lies in the previous frame's storage this many pixels below
  // `previous` (at least kMinPreviousGap): sharpened pixel p overwrites previous pixel
  // p - previous_gap, so the step writes it only once the stereo pass has read that pixel
  // for the last time. The lines it writes were then read a moment before and are still
  // in the cache: no line of the sharpened frame is fetched from memory only to be
  // overwritten.
  int64_t previous_gap = 0;
};

// The smallest gap between the sharpened and the previous frame that lets the sharpen
// and the stereo stage take turns without waiting on each other for ever: more than the
// stereo pass reads behind its pixel (the shift, the 3D Depth displacement and the vector
// kernels' windows) plus what it reads ahead.
inline constexpr int64_t kMinPreviousGap = 1024;

// Frames of at least this many bytes are larger than the caches: the step stores its
// anaglyph past the cache (nothing reads it during the step).
inline constexpr int64_t kStreamFrameBytes = int64_t{2} << 20;

// Pixels per strip when the caller does not choose.
inline constexpr int64_t kFrameStepStrip = 4 * 1920;

// The gap the frame callback uses for frames `width` pixels wide run in strips of `strip`
// pixels, 0 where the frame may not slide: eight rows or two strips, whichever is more, in
// whole 64-byte lines. A gap of less than two strips would hold the sharpen stage back
// within its strips (a step in strips of 16 rows a quarter slower with a gap of 8).
int64_t PreviousGapFor(int32_t width, int64_t strip = kFrameStepStrip);

// Runs the step. Afterwards `work` holds the filtered picture (as RunFilterChain leaves
// it), `sharpened` what SharpenCopy makes of it and `composed` (stereo on) what the stereo
// pass makes of `sharpened` and `previous`. `strip` is in pixels (at least 1).
// `stream_bytes`: the frame size from which the anaglyph goes past the cache (tests use 0 to
// take that path with small frames).
void RunFrameStepInStrips(const FrameStepBuffers& buffers, const FrameStepSettings& settings,
                          int64_t strip = kFrameStepStrip,
                          int64_t stream_bytes = kStreamFrameBytes);

}  // namespace zqr::frames
