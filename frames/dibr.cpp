// Depth-image-based rendering: the per-level shifts of each eye, the plain row kernel (a
// forward warp by spans with a nearest-wins depth test, then the gaps filled from their
// farther side) and the entry for a band of rows.
#include "frames/dibr.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zqr::frames {

namespace {
// A neighbour pair whose landing places differ by more than this from their distance in the
// picture belongs to two surfaces: its span is a depth edge, not a stretch of one surface.
constexpr float kEdgeJump = 1.0f;

EyeShifts ShiftsOf(const DibrSettings& settings, int32_t width, float share) {
  EyeShifts shifts;
  if (share == 0.0f) return shifts;
  const double pixels_per_unit = settings.divergence_percent / 100.0 * width;
  for (int g = 0; g < 256; ++g) {
    const double disparity = (g / 255.0 - settings.convergence) * pixels_per_unit;
    shifts.at[static_cast<size_t>(g)] = static_cast<float>(static_cast<double>(share) * disparity);
  }
  shifts.identity = pixels_per_unit == 0.0;
  return shifts;
}

// a + (b - a) w / 256 per byte, rounded, two bytes at a time (each lane's sum stays below
// 2^16); the fourth byte comes along with the colours.
uint32_t Mix(uint32_t a, uint32_t b, uint32_t w) {
  const uint32_t v = 256 - w;
  const uint32_t even = ((a & 0x00FF00FFu) * v + (b & 0x00FF00FFu) * w + 0x00800080u) >> 8;
  const uint32_t odd = ((a >> 8 & 0x00FF00FFu) * v + (b >> 8 & 0x00FF00FFu) * w + 0x00800080u) >> 8;
  return (even & 0x00FF00FFu) | (odd & 0x00FF00FFu) << 8;
}

// Covers target pixels c with t0 <= c < t1 by the span from pixel value a (depth ga) at t0
// to b (gb) at t1, where the span is nearer than what is there.
void Span(float t0, float t1, uint32_t a, uint32_t b, float ga, float gb, int32_t width,
          uint32_t* out, float* depth) {
  const float length = t1 - t0;
  if (!(length > 0.0f)) return;
  const int32_t first = std::max(0, static_cast<int32_t>(std::ceil(t0)));
  const int32_t last = std::min(width - 1, static_cast<int32_t>(std::ceil(t1)) - 1);
  const float inverse = 1.0f / length;
  for (int32_t c = first; c <= last; ++c) {
    const float f = std::clamp((static_cast<float>(c) - t0) * inverse, 0.0f, 1.0f);
    const float g = ga + (gb - ga) * f;
    if (g <= depth[c]) continue;
    depth[c] = g;
    out[c] = Mix(a, b, static_cast<uint32_t>(f * 256.0f + 0.5f));
  }
}
}  // namespace

EyeShifts LeftEyeShifts(const DibrSettings& settings, int32_t width) {
  const float share = settings.synthetic == SyntheticView::kBoth   ? 0.5f
                      : settings.synthetic == SyntheticView::kLeft ? 1.0f
                                                                   : 0.0f;
  return ShiftsOf(settings, width, share);
}

EyeShifts RightEyeShifts(const DibrSettings& settings, int32_t width) {
  const float share = settings.synthetic == SyntheticView::kBoth    ? -0.5f
                      : settings.synthetic == SyntheticView::kRight ? -1.0f
                                                                    : 0.0f;
  return ShiftsOf(settings, width, share);
}

void RenderEyeRowScalar(const uint32_t* picture, const uint8_t* depth, int32_t width,
                        const EyeShifts& shifts, uint32_t* out, DibrRowScratch& scratch) {
  if (width <= 0) return;
  if (shifts.identity) {
    std::memcpy(out, picture, static_cast<size_t>(width) * sizeof(uint32_t));
    return;
  }
  scratch.depth.assign(static_cast<size_t>(width), -1.0f);
  float* const z = scratch.depth.data();
  for (int32_t x = 0; x < width; ++x) {
    const float g0 = depth[x];
    const float t0 = static_cast<float>(x) + shifts.at[depth[x]];
    const bool last = x + 1 == width;
    const float t1 = last ? t0 + 1.0f : static_cast<float>(x + 1) + shifts.at[depth[x + 1]];
    if (!last && std::fabs(t1 - t0 - 1.0f) <= kEdgeJump) {
      Span(t0, t1, picture[x], picture[x + 1], g0, depth[x + 1], width, out, z);
    } else {
      // At an edge (or the row's end) the pixel keeps its own width; what lies beyond it
      // is the gap the edge opens, or the other surface.
      Span(t0 - 0.5f, t0 + 0.5f, picture[x], picture[x], g0, g0, width, out, z);
      if (!last) {
        const float g1 = depth[x + 1];
        Span(t1 - 0.5f, t1, picture[x + 1], picture[x + 1], g1, g1, width, out, z);
      }
    }
  }
  // The gaps: each run of uncovered pixels takes the colour of its farther neighbour (the
  // background the edge uncovered); at the row's ends, of the one neighbour it has.
  int32_t x = 0;
  while (x < width) {
    if (z[x] >= 0.0f) {
      ++x;
      continue;
    }
    const int32_t begin = x;
    while (x < width && z[x] < 0.0f) ++x;
    const int32_t before = begin - 1;
    const int32_t after = x;
    uint32_t fill = 0;
    if (before >= 0 && after < width) {
      fill = z[before] <= z[after] ? out[before] : out[after];
    } else if (before >= 0) {
      fill = out[before];
    } else if (after < width) {
      fill = out[after];
    } else {
      fill = picture[0];
    }
    std::fill(out + begin, out + x, fill);
  }
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
    RenderEyeRowScalar(row, depth_row, width, left_shifts, left + y * stride, scratch);
    RenderEyeRowScalar(row, depth_row, width, right_shifts, right + y * stride, scratch);
  }
}

}  // namespace zqr::frames
