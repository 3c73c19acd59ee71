// The output layouts of the stereo stage. Each is made from the two views of a frame
// (stereo_views.h): today's red/cyan anaglyph, three other anaglyphs (colour_anaglyphs.h),
// and the layouts that show the views whole, side by side or one above the other, at full
// size or squeezed into the frame's own size (squeeze.h). Frames are stored bottom line
// first, so "top" is the end of the array.
//
// The fourth byte: the anaglyphs take it from the left view, with the red; the full-size
// layouts keep each view's own; the squeezed ones take the rounded mean of the pair, as
// for the colour bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "frames/stereo.h"

namespace zqr::frames {

enum class OutputLayout {
  kAnaglyph,    // today's merge: blue and green of the right view, red and fourth byte of the left
  kDubois,      // red/cyan by Dubois's least-squares matrices, in linear light
  kHalfColour,  // red the left view's luma, green and blue the right view's
  kGrey,        // red the left view's luma, green and blue the right view's luma
  kSbs,         // 2W x H: left view on the left, right view on the right
  kHalfSbs,     // W x H: the left view squeezed into the first (W + 1) / 2 columns, the right
                // view into the last W / 2 (for odd W its lone last column is not shown)
  kTab,         // W x 2H: left view on top
  kHalfTab,     // W x H: the left view squeezed into the top (H + 1) / 2 lines, the right view
                // into the bottom H / 2 (for odd H its lone bottom line is not shown)
};

// The name of a layout ("anaglyph", "dubois", "half-colour", "grey", "sbs", "half-sbs",
// "tab", "half-tab"), and the layout of a name.
std::string_view LayoutName(OutputLayout layout);
std::optional<OutputLayout> LayoutFromName(std::string_view name);

struct LayoutSize {
  int32_t width = 0;
  int32_t height = 0;
  // What the output array must hold: width x height, and one line more for kAnaglyph,
  // whose merge writes the frame's spare line too.
  int64_t pixels = 0;
};
// The output of a layout for a width x height frame (all zero for a size below 1 x 1).
LayoutSize LayoutOutputSize(OutputLayout layout, int32_t width, int32_t height);

// Working memory of ComposeLayout: a few lines of both views. Kept by the caller from one
// frame to the next, so that only the first frame allocates it.
struct LayoutScratch {
  std::vector<uint32_t> views;
};

// One frame in `layout` into `out` (LayoutOutputSize(...).pixels) with the active kernels.
// `current` is the frame to compose and `previous` the frame before it, the second view's
// source in the dynamic mode (unused in the static one). For kAnaglyph both are frame
// arrays of width x (height + 1) as the stereo step takes them and `out` receives exactly
// what the step composes; the other layouts read only the width x height picture of each.
// Returns false (nothing written) for a size below 1 x 1 or a missing array.
//
// With `picture_width` (1 .. width) the layouts other than kAnaglyph show only the first
// `picture_width` columns of each view, as a frame file does (its crop leaves the right
// edge out): `out` then holds LayoutOutputSize(layout, picture_width, height) pixels, the
// views made over the whole width as always.
bool ComposeLayout(OutputLayout layout, const uint32_t* current, const uint32_t* previous,
                   int32_t width, int32_t height, const StereoSettings& settings, uint32_t* out,
                   LayoutScratch& scratch, int32_t picture_width = 0);

// The same layouts made from a pair of views already rendered (width x height each, rows
// `width` apart): kAnaglyph then takes red and the fourth byte from the left view and green
// and blue from the right one, pixel for pixel, into picture_width x height pixels (no spare
// line). The other layouts are made exactly as from the shift views.
bool ComposeLayoutOfViews(OutputLayout layout, const uint32_t* left, const uint32_t* right,
                          int32_t width, int32_t height, uint32_t* out, LayoutScratch& scratch,
                          int32_t picture_width = 0);

}  // namespace zqr::frames
