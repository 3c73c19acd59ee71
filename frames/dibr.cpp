// Depth-image-based rendering: the per-level shifts of each eye, the plain row kernel (a
// forward warp by spans with a nearest-wins depth test, then the gaps filled from their
// farther side), the same warp taken a run of one depth at a time, and the entry for a band
// of rows. Positions are in 1/256 pixel, so that both kernels compute the same bytes.
#include "frames/dibr.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zqr::frames {

namespace {
constexpr int32_t kOne = 256;  // one pixel in the units of positions
// A neighbour pair whose landing places differ by more than a pixel from their distance in
// the picture belongs to two surfaces: its span is a depth edge, not a stretch of one surface.
constexpr int32_t kEdgeJump = kOne;

EyeShifts ShiftsOf(const DibrSettings& settings, int32_t width, double share) {
  EyeShifts shifts;
  const double pixels_per_unit = settings.divergence_percent / 100.0 * width;
  if (share == 0.0 || pixels_per_unit == 0.0) return shifts;
  for (int g = 0; g < 256; ++g) {
    const double disparity = (g / 255.0 - settings.convergence) * pixels_per_unit;
    shifts.at[static_cast<size_t>(g)] = static_cast<int32_t>(std::lround(share * disparity * kOne));
  }
  shifts.identity = false;
  return shifts;
}

// a + (b - a) w / 256 per byte, rounded, two bytes at a time (each lane's sum stays below
// 2^16); the fourth byte comes along with the colours.
inline uint32_t Mix(uint32_t a, uint32_t b, uint32_t w) {
  const uint32_t v = kOne - w;
  const uint32_t even = ((a & 0x00FF00FFu) * v + (b & 0x00FF00FFu) * w + 0x00800080u) >> 8;
  const uint32_t odd = ((a >> 8 & 0x00FF00FFu) * v + (b >> 8 & 0x00FF00FFu) * w + 0x00800080u) >> 8;
  return (even & 0x00FF00FFu) | (odd & 0x00FF00FFu) << 8;
}

// The first whole pixel at or after a position.
inline int32_t CeilPixel(int32_t position) {
  return (position + kOne - 1) >> 8;
}

// Covers target pixels c with t0 <= 256 c < t1 by the span from pixel value a at depth ga
// (at t0) to b at gb (at t1), where the span is nearer than what is there. Depths are kept
// in 1/256 level.
void Span(int32_t t0, int32_t t1, uint32_t a, uint32_t b, int32_t ga, int32_t gb, int32_t width,
          uint32_t* out, int32_t* depth) {
  const int32_t length = t1 - t0;
  if (length <= 0) return;
  const int32_t first = std::max(0, CeilPixel(t0));
  const int32_t end = std::min(width, CeilPixel(t1));
  for (int32_t c = first; c < end; ++c) {
    const int32_t w = ((c * kOne - t0) * kOne + length / 2) / length;
    const int32_t g = ga * kOne + (gb - ga) * w;
    if (g <= depth[c]) continue;
    depth[c] = g;
    out[c] = Mix(a, b, static_cast<uint32_t>(w));
  }
}

// Pixel x's part of the warp: the span to its neighbour, or at an edge (or the row's end)
// its own width, with what lies beyond it left to the gap the edge opens or the other surface.
inline void PixelSpans(const uint32_t* picture, const uint8_t* depth, int32_t width,
                       const EyeShifts& shifts, int32_t x, uint32_t* out, int32_t* z) {
  const int32_t g0 = depth[x];
  const int32_t t0 = x * kOne + shifts.at[depth[x]];
  if (x + 1 < width) {
    const int32_t g1 = depth[x + 1];
    const int32_t t1 = (x + 1) * kOne + shifts.at[depth[x + 1]];
    if (std::abs(t1 - t0 - kOne) <= kEdgeJump) {
      Span(t0, t1, picture[x], picture[x + 1], g0, g1, width, out, z);
      return;
    }
    Span(t0 - kOne / 2, t0 + kOne / 2, picture[x], picture[x], g0, g0, width, out, z);
    Span(t1 - kOne / 2, t1, picture[x + 1], picture[x + 1], g1, g1, width, out, z);
    return;
  }
  Span(t0 - kOne / 2, t0 + kOne / 2, picture[x], picture[x], g0, g0, width, out, z);
}

// Each run of uncovered pixels takes the colour of its farther neighbour (the background the
// edge uncovered); at the row's ends, of the one neighbour it has.
void FillGaps(const uint32_t* picture, int32_t width, uint32_t* out, const int32_t* z) {
  int32_t x = 0;
  while (x < width) {
    if (z[x] >= 0) {
      ++x;
      continue;
    }
    const int32_t begin = x;
    while (x < width && z[x] < 0) ++x;
    const int32_t before = begin - 1;
    const int32_t after = x;
    uint32_t fill = picture[0];
    if (before >= 0 && after < width) {
      fill = z[before] <= z[after] ? out[before] : out[after];
    } else if (before >= 0) {
      fill = out[before];
    } else if (after < width) {
      fill = out[after];
    }
    std::fill(out + begin, out + x, fill);
  }
}

// The row's depth buffer, all uncovered; null when there is nothing to warp (no pixels, or
// an eye that is the picture itself, copied here).
int32_t* StartEyeRow(const uint32_t* picture, int32_t width, const EyeShifts& shifts, uint32_t* out,
                     DibrRowScratch& scratch) {
  if (width <= 0) return nullptr;
  if (shifts.identity) {
    std::memcpy(out, picture, static_cast<size_t>(width) * sizeof(uint32_t));
    return nullptr;
  }
  scratch.depth.assign(static_cast<size_t>(width), -1);
  return scratch.depth.data();
}
}  // namespace

EyeShifts LeftEyeShifts(const DibrSettings& settings, int32_t width) {
  const double share = settings.synthetic == SyntheticView::kBoth   ? 0.5
                       : settings.synthetic == SyntheticView::kLeft ? 1.0
                                                                    : 0.0;
  return ShiftsOf(settings, width, share);
}

EyeShifts RightEyeShifts(const DibrSettings& settings, int32_t width) {
  const double share = settings.synthetic == SyntheticView::kBoth    ? -0.5
                       : settings.synthetic == SyntheticView::kRight ? -1.0
                                                                     : 0.0;
  return ShiftsOf(settings, width, share);
}

void RenderEyeRowScalar(const uint32_t* picture, const uint8_t* depth, int32_t width,
                        const EyeShifts& shifts, uint32_t* out, DibrRowScratch& scratch) {
  int32_t* const z = StartEyeRow(picture, width, shifts, out, scratch);
  if (z == nullptr) return;
  for (int32_t x = 0; x < width; ++x) PixelSpans(picture, depth, width, shifts, x, out, z);
  FillGaps(picture, width, out, z);
}

// The same warp, a run of pixels of one depth at a time: their spans are one shift of the
// run by a fixed amount, every covered pixel the same blend of two neighbours.
void RenderEyeRow(const uint32_t* picture, const uint8_t* depth, int32_t width,
                  const EyeShifts& shifts, uint32_t* out, DibrRowScratch& scratch) {
  int32_t* const z = StartEyeRow(picture, width, shifts, out, scratch);
  if (z == nullptr) return;
  int32_t x = 0;
  while (x < width) {
    int32_t last = x;
    while (last + 1 < width && depth[last + 1] == depth[x]) ++last;
    if (last == x) {
      PixelSpans(picture, depth, width, shifts, x, out, z);
      ++x;
      continue;
    }
    // Pairs x .. last - 1: target c takes 256 c - shift = 256 source + w, w the same for all.
    const int32_t shift = shifts.at[depth[x]];
    const int32_t level = depth[x] * kOne;
    const int32_t first = std::max(0, CeilPixel(x * kOne + shift));
    const int32_t end = std::min(width, CeilPixel(last * kOne + shift));
    if (first < end) {
      const int32_t offset = (first * kOne - shift) >> 8;  // the source of `first`
      const auto w = static_cast<uint32_t>((first * kOne - shift) & (kOne - 1));
      for (int32_t c = first, s = offset; c < end; ++c, ++s) {
        if (level <= z[c]) continue;
        z[c] = level;
        out[c] = Mix(picture[s], picture[s + 1], w);
      }
    }
    x = last;
  }
  FillGaps(picture, width, out, z);
}

void RenderDibrRows(const uint32_t* picture, ptrdiff_t stride, const uint8_t* depth,
                    ptrdiff_t depth_stride, int32_t width, int32_t begin, int32_t end,
                    const DibrSettings& settings, uint32_t* left, uint32_t* right,
                    DibrRowScratch& scratch) {
  const EyeShifts left_shifts = LeftEyeShifts(settings, width);
  const EyeShifts right_shifts = RightEyeShifts(settings, width);
  for (int32_t y = begin; y < end; ++y) {
    const uint32_t* row = picture + y * stride;
    const uint8_t* depth_row = depth + y * depth_stride;
    RenderEyeRow(row, depth_row, width, left_shifts, left + y * stride, scratch);
    RenderEyeRow(row, depth_row, width, right_shifts, right + y * stride, scratch);
  }
}

}  // namespace zqr::frames
