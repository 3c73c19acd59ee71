// The per-frame entry of the output layouts. The views are made a few lines at a time
// into the caller's scratch, where they stay in the cache for the layout kernel, so a
// layout reads the frames and writes its output once, as the merge does; the full-size
// layouts have the views written straight into their places in the output.
#include "frames/layouts.h"

#include <algorithm>
#include <array>

#include "frames/colour_anaglyphs.h"
#include "frames/frame.h"
#include "frames/kernels.h"
#include "frames/squeeze.h"
#include "frames/stereo_views.h"

namespace zqr::frames {

namespace {

constexpr std::array<std::string_view, 8> kNames = {
    "anaglyph", "dubois", "half-colour", "grey", "sbs", "half-sbs", "tab", "half-tab"};

// Pixels of each view per pass of a colour anaglyph: both views stay in the first-level
// cache.
constexpr int64_t kColourBand = 2048;

struct ViewPair {
  const uint32_t* left;
  const uint32_t* right;
};

// The views of picture pixels begin .. end - 1: without 3D Depth they are the frames
// themselves wherever the shifted pixels stay in the picture; otherwise they are made in
// `scratch` (two times end - begin pixels).
ViewPair Views(const LayoutKernels& kernels, const StereoViewArgs& args, int64_t begin, int64_t end,
               uint32_t* scratch) {
  if (!args.displacement && begin + args.shift >= 0 && end + args.shift <= args.picture) {
    return {args.second + begin + args.shift, args.current + begin};
  }
  kernels.stereo_views(args, begin, end, scratch, scratch + (end - begin));
  return {scratch, scratch + (end - begin)};
}

void ComposeAnaglyph(const uint32_t* current, const uint32_t* previous, int32_t width,
                     int32_t height, const StereoSettings& settings, uint32_t* out) {
  StereoPassArgs args;
  args.current = current;
  args.second = settings.mode == 0 ? previous : current;
  args.out = out;
  args.width = width;
  args.picture = int64_t{width} * height;
  args.total = args.picture + width;
  args.shift = StereoShift(settings.tuning);
  args.displacement = settings.displacement_on == 1;
  args.displacement_factor = DisplacementFactor(settings.divisor);
  ActiveKernels().stereo_pass(args);
}

}  // namespace

LayoutKernels ScalarLayoutKernels() {
  return {StereoViewsScalar, DuboisScalar,       HalfColourScalar,
          GreyScalar,        HalveColumnsScalar, AverageRowsScalar};
}

std::string_view LayoutName(OutputLayout layout) {
  return kNames[static_cast<size_t>(layout)];
}

std::optional<OutputLayout> LayoutFromName(std::string_view name) {
  for (size_t i = 0; i < kNames.size(); ++i) {
    if (kNames[i] == name) return static_cast<OutputLayout>(i);
  }
  return std::nullopt;
}

LayoutSize LayoutOutputSize(OutputLayout layout, int32_t width, int32_t height) {
  if (width < 1 || height < 1) return {};
  LayoutSize size{width, height, 0};
  if (layout == OutputLayout::kSbs) size.width = 2 * width;
  if (layout == OutputLayout::kTab) size.height = 2 * height;
  size.pixels = int64_t{size.width} * size.height;
  if (layout == OutputLayout::kAnaglyph) size.pixels += width;
  return size;
}

namespace {
// One frame's layout of the two views: how they are made, and where the rows go.
struct LayoutJob {
  const LayoutKernels& kernels;
  const StereoViewArgs& args;
  int64_t w;       // the frame's width
  int64_t pw;      // the columns of each view the output shows
  int64_t height;  // the frame's lines
  uint32_t* out;
  LayoutScratch& scratch;
  // Room for two views of `pixels` pixels each.
  uint32_t* views(int64_t pixels) const {
    if (scratch.views.size() < static_cast<size_t>(2 * pixels)) {
      scratch.views.resize(static_cast<size_t>(2 * pixels));
    }
    return scratch.views.data();
  }
};

// The colour anaglyphs made of the two views: Dubois, half colour, grey.
void ComposeColourAnaglyph(const LayoutJob& job, OutputLayout layout) {
  const LayoutKernels& kernels = job.kernels;
  const StereoViewArgs& args = job.args;
  const int64_t w = job.w;
  const int64_t pw = job.pw;
  const int64_t n = args.picture;
  uint32_t* out = job.out;
  const auto colour = layout == OutputLayout::kDubois       ? kernels.dubois
                      : layout == OutputLayout::kHalfColour ? kernels.half_colour
                                                            : kernels.grey;
  // With 3D Depth the views are made, not read in place: a set that keeps them in its
  // registers makes the anaglyph in one pass.
  const auto in_one_pass = layout == OutputLayout::kHalfColour ? kernels.half_colour_views
                           : layout == OutputLayout::kGrey     ? kernels.grey_views
                                                               : nullptr;
  if (args.displacement && in_one_pass != nullptr) {
    if (pw == w) {
      in_one_pass(args, 0, n, out);
    } else {
      for (int64_t y = 0; y < job.height; ++y) in_one_pass(args, y * w, y * w + pw, out + y * pw);
    }
    return;
  }
  if (pw == w) {
    uint32_t* room = job.views(std::min(n, kColourBand));
    for (int64_t begin = 0; begin < n; begin += kColourBand) {
      const int64_t end = std::min(n, begin + kColourBand);
      const ViewPair pair = Views(kernels, args, begin, end, room);
      colour(pair.left, pair.right, out + begin, end - begin);
    }
  } else {
    uint32_t* room = job.views(w);
    for (int64_t y = 0; y < job.height; ++y) {
      const ViewPair pair = Views(kernels, args, y * w, (y + 1) * w, room);
      colour(pair.left, pair.right, out + y * pw, pw);
    }
  }
}

// Both views whole, side by side (`side_by_side`) or the left one below the right.
void ComposeBothViews(const LayoutJob& job, bool side_by_side) {
  const LayoutKernels& kernels = job.kernels;
  const StereoViewArgs& args = job.args;
  const int64_t w = job.w;
  const int64_t pw = job.pw;
  const int64_t height = job.height;
  uint32_t* out = job.out;
  if (pw == w) {
    if (!side_by_side) {
      kernels.stereo_views(args, 0, args.picture, out + args.picture, out);
      return;
    }
    for (int64_t y = 0; y < height; ++y) {
      kernels.stereo_views(args, y * w, (y + 1) * w, out + 2 * y * w, out + (2 * y + 1) * w);
    }
    return;
  }
  uint32_t* room = job.views(w);
  for (int64_t y = 0; y < height; ++y) {
    kernels.stereo_views(args, y * w, (y + 1) * w, room, room + w);
    if (side_by_side) {
      std::copy_n(room, pw, out + 2 * y * pw);
      std::copy_n(room + w, pw, out + (2 * y + 1) * pw);
    } else {
      std::copy_n(room, pw, out + (height + y) * pw);
      std::copy_n(room + w, pw, out + y * pw);
    }
  }
}

// Both views at half width, side by side.
void ComposeHalfSideBySide(const LayoutJob& job) {
  const int64_t w = job.w;
  const int64_t pw = job.pw;
  uint32_t* room = job.views(w);
  const auto left_columns = static_cast<int32_t>((pw + 1) / 2);
  const auto columns = static_cast<int32_t>(pw);
  for (int64_t y = 0; y < job.height; ++y) {
    const ViewPair pair = Views(job.kernels, job.args, y * w, (y + 1) * w, room);
    job.kernels.halve_columns(pair.left, columns, left_columns, job.out + y * pw);
    job.kernels.halve_columns(pair.right, columns, columns / 2, job.out + y * pw + left_columns);
  }
}

// Both views at half height, the left one below the right. Pair k joins picture lines 2k
// and 2k + 1 counted from the top: stored lines height - 1 - 2k and the one below it (the
// same line for a lone bottom line). The pairs go bottom first, so that every array is
// walked upwards through memory.
void ComposeHalfTopAndBottom(const LayoutJob& job) {
  const LayoutKernels& kernels = job.kernels;
  const StereoViewArgs& args = job.args;
  const int64_t w = job.w;
  const int64_t pw = job.pw;
  const int64_t height = job.height;
  uint32_t* out = job.out;
  if (args.displacement && kernels.average_rows_views != nullptr) {
    for (int64_t k = (height + 1) / 2 - 1; k >= 0; --k) {
      const int64_t upper = height - 1 - 2 * k;
      const int64_t lower = std::max<int64_t>(upper - 1, 0);
      kernels.average_rows_views(args, lower * w, upper * w, pw, out + (height - 1 - k) * pw,
                                 k < height / 2 ? out + (height / 2 - 1 - k) * pw : nullptr);
    }
    return;
  }
  uint32_t* room = job.views(2 * w);
  for (int64_t k = (height + 1) / 2 - 1; k >= 0; --k) {
    const int64_t upper = height - 1 - 2 * k;
    const int64_t lower = std::max<int64_t>(upper - 1, 0);
    const ViewPair pair = Views(kernels, args, lower * w, (upper + 1) * w, room);
    const int64_t last = (upper - lower) * w;
    kernels.average_rows(pair.left, pair.left + last, out + (height - 1 - k) * pw, pw);
    if (k < height / 2) {
      kernels.average_rows(pair.right, pair.right + last, out + (height / 2 - 1 - k) * pw, pw);
    }
  }
}
// Every layout but the red/cyan merge.
void ComposeViews(const LayoutJob& job, OutputLayout layout) {
  switch (layout) {
    case OutputLayout::kDubois:
    case OutputLayout::kHalfColour:
    case OutputLayout::kGrey:
      ComposeColourAnaglyph(job, layout);
      break;
    case OutputLayout::kSbs:
      ComposeBothViews(job, true);
      break;
    case OutputLayout::kTab:
      ComposeBothViews(job, false);
      break;
    case OutputLayout::kHalfSbs:
      ComposeHalfSideBySide(job);
      break;
    case OutputLayout::kHalfTab:
      ComposeHalfTopAndBottom(job);
      break;
    case OutputLayout::kAnaglyph:
      break;
  }
}
}  // namespace

bool ComposeLayout(OutputLayout layout, const uint32_t* current, const uint32_t* previous,
                   int32_t width, int32_t height, const StereoSettings& settings, uint32_t* out,
                   LayoutScratch& scratch, int32_t picture_width) {
  if (current == nullptr || out == nullptr || width < 1 || height < 1 ||
      (settings.mode == 0 && previous == nullptr) ||
      int64_t{width} * (height + 1) > FrameArray::kMaxPixels) {
    return false;
  }
  if (layout == OutputLayout::kAnaglyph) {
    ComposeAnaglyph(current, previous, width, height, settings, out);
    return true;
  }
  const std::array<int16_t, 256> table = DisplacementTableFor(DisplacementFactor(settings.divisor));
  const StereoViewArgs args = MakeStereoViewArgs(current, previous, width, height, settings, table);
  // The columns of each view the output shows (the frame files leave the right edge out).
  const int64_t shown = picture_width > 0 ? std::min(picture_width, width) : width;
  const LayoutJob job{ActiveKernels().layouts, args, width, shown, height, out, scratch};
  ComposeViews(job, layout);
  return true;
}

bool ComposeLayoutOfViews(OutputLayout layout, const uint32_t* left, const uint32_t* right,
                          int32_t width, int32_t height, uint32_t* out, LayoutScratch& scratch,
                          int32_t picture_width) {
  if (left == nullptr || right == nullptr || out == nullptr || width < 1 || height < 1 ||
      int64_t{width} * (height + 1) > FrameArray::kMaxPixels) {
    return false;
  }
  const int64_t shown = picture_width > 0 ? std::min(picture_width, width) : width;
  if (layout == OutputLayout::kAnaglyph) {
    for (int64_t y = 0; y < height; ++y) {
      const uint32_t* l = left + y * width;
      const uint32_t* r = right + y * width;
      uint32_t* o = out + y * shown;
      for (int64_t x = 0; x < shown; ++x) o[x] = (l[x] & 0xFFFF0000u) | (r[x] & 0x0000FFFFu);
    }
    return true;
  }
  // Views without a shift or a displacement are read where they lie: the second view is the
  // left one, the current frame the right one.
  StereoViewArgs args;
  args.current = right;
  args.second = left;
  args.width = width;
  args.picture = int64_t{width} * height;
  const LayoutJob job{ActiveKernels().layouts, args, width, shown, height, out, scratch};
  ComposeViews(job, layout);
  return true;
}

}  // namespace zqr::frames
