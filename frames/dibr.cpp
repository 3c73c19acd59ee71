// Depth-image-based rendering: the per-level shifts of each eye, the plain row kernel (a
// forward warp by spans with a nearest-wins depth test, then the gaps filled from their
// farther side), the faster kernels and the entry for a band of rows. Positions are in 1/256
// pixel, so that every kernel computes the same bytes.
//
// The faster kernels turn the warp around. Between two depth edges the spans of one surface
// follow each other without overlap, so each target pixel they cover has exactly one span,
// found by walking along the surface; the target takes that span's weight, and the vector
// kernels take several targets at once. Spans at edges, and the order of all writes, stay as
// in the plain kernel, so that ties of the depth test go the same way.
#include "frames/dibr.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "frames/kernels.h"

#if defined(ZQR_FRAMES_X86)
#include "frames/x86/dibr_x86.h"
#include "frames/x86/kernels_x86.h"
#endif

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
void FillGap(const uint32_t* picture, int32_t width, uint32_t* out, const int32_t* z, int32_t begin,
             int32_t end) {
  const int32_t before = begin - 1;
  uint32_t fill = picture[0];
  if (before >= 0 && end < width) {
    fill = z[before] <= z[end] ? out[before] : out[end];
  } else if (before >= 0) {
    fill = out[before];
  } else if (end < width) {
    fill = out[end];
  }
  std::fill(out + begin, out + end, fill);
}

// Every gap of the row, found pixel by pixel.
void FillGaps(const uint32_t* picture, int32_t width, uint32_t* out, const int32_t* z) {
  int32_t x = 0;
  while (x < width) {
    if (z[x] >= 0) {
      ++x;
      continue;
    }
    const int32_t begin = x;
    while (x < width && z[x] < 0) ++x;
    FillGap(picture, width, out, z, begin, x);
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

// A span of one colour and one depth (either side of an edge, the row's last pixel): the
// blend of a colour with itself is that colour, so no weight is needed.
void FlatSpan(int32_t t0, int32_t t1, uint32_t colour, int32_t level, int32_t width, uint32_t* out,
              int32_t* z) {
  const int32_t end = std::min(width, CeilPixel(t1));
  for (int32_t c = std::max(0, CeilPixel(t0)); c < end; ++c) {
    if (level <= z[c]) continue;
    z[c] = level;
    out[c] = colour;
  }
}

// Target c from the span of pixels p and p + 1, which covers it: the same weight and depth
// as Span gives it.
inline void SurfaceTarget(const uint32_t* picture, const uint8_t* depth, const int32_t* landing,
                          int32_t c, int32_t p, uint32_t* out, int32_t* z) {
  const int32_t t0 = landing[p];
  const int32_t length = landing[p + 1] - t0;
  const uint32_t w =
      SpanQuotient(static_cast<uint32_t>((c * kOne - t0) * kOne + length / 2), length);
  const int32_t ga = depth[p];
  const int32_t g = ga * kOne + (depth[p + 1] - ga) * static_cast<int32_t>(w);
  if (g <= z[c]) return;
  z[c] = g;
  out[c] = Mix(picture[p], picture[p + 1], w);
}

// The passes over a row that the kernel sets share, in plain C++; a vector set replaces
// those it does faster (see x86/dibr_x86.h).
struct PlainRowPasses {
  // Where each pixel lands, and every target uncovered.
  static void StartRow(const uint8_t* depth, int32_t width, const int32_t* shifts, int32_t* landing,
                       int32_t* z) {
    std::fill(z, z + width, -1);
    for (int32_t x = 0; x < width; ++x) landing[x] = x * kOne + shifts[depth[x]];
  }

  // The first pixel from `first` on whose pair with the next is a depth edge, else the
  // row's last pixel.
  static int32_t SurfaceEnd(const int32_t* landing, int32_t first, int32_t width) {
    int32_t x = first;
    while (x + 1 < width &&
           static_cast<uint32_t>(landing[x + 1] - landing[x]) <= kOne + kEdgeJump) {
      ++x;
    }
    return x;
  }

  // pairs[c], for each target c of the surface, the pair that covers it: pair x writes the
  // first target it may cover and the next, and a later pair overwrites what is not its
  // own, as pairs land in order. pairs[-1] and pairs[width] take what falls outside.
  static void Pairs(const DibrSurface& s, int32_t first, int32_t* pairs) {
    for (int32_t x = first; x < s.last; ++x) {
      const int32_t c = CeilPixel(s.landing[x]);
      pairs[std::clamp(c, -1, s.width)] = x;
      pairs[std::clamp(c + 1, -1, s.width)] = x;
    }
  }

  // Targets covered by a run of pairs of one depth: its spans are a pixel long, so target
  // c + i has pair p + i, and all of them the same weight and depth.
  // Runs shorter than five pixels are left to the caller, and a run is looked for at every
  // fourth target only, by one comparison: on a smooth depth ramp there are none.
  static int32_t Blocks(const DibrSurface& s, int32_t c, int32_t& p) {
    if ((c & 3) != 0 || p + 4 > s.last) return c;
    const int32_t level = s.depth[p];
    uint32_t next_four = 0;
    std::memcpy(&next_four, s.depth + p + 1, sizeof(next_four));
    if (next_four != 0x01010101u * static_cast<uint32_t>(level)) return c;
    int32_t q = p + 4;
    while (q < s.last && s.depth[q + 1] == level) ++q;
    const int32_t count = std::min(q - p, s.end - c);
    const auto w = static_cast<uint32_t>(c * kOne - s.landing[p]);
    const int32_t g = level * kOne;
    for (int32_t i = 0; i < count; ++i) {
      if (g <= s.z[c + i]) continue;
      s.z[c + i] = g;
      s.out[c + i] = Mix(s.picture[p + i], s.picture[p + i + 1], w);
    }
    c += count;
    p += count - 1;
    while (c < s.end && s.landing[p + 1] <= c * kOne) ++p;
    return c;
  }

  static int32_t NextUncovered(const int32_t* z, int32_t x, int32_t width) {
    while (x < width && z[x] >= 0) ++x;
    return x;
  }

  static constexpr bool kPairs = false;
};

// Pixels first .. s.last of one surface: each target it covers from the pair that lands
// either side of it, as many as the set's blocks take at a time, the others one by one.
template <class Passes>
void RenderSurface(DibrSurface& s, int32_t first, int32_t* pairs) {
  int32_t c = std::max(0, CeilPixel(s.landing[first]));
  if (c >= s.end) return;
  int32_t p = first;
  // Stops before `last`: c < end puts 256 c before landing[last].
  while (s.landing[p + 1] <= c * kOne) ++p;
  if constexpr (Passes::kPairs) {
    Passes::Pairs(s, p, pairs);
    s.pairs = pairs;
  }
  for (;;) {
    c = Passes::Blocks(s, c, p);
    if (c >= s.end) return;
    SurfaceTarget(s.picture, s.depth, s.landing, c, p, s.out, s.z);
    if (++c >= s.end) return;
    while (s.landing[p + 1] <= c * kOne) ++p;
  }
}

// FillGaps, finding the gaps by the set's scan.
template <class Passes>
void FillGapsWith(const uint32_t* picture, int32_t width, uint32_t* out, const int32_t* z) {
  int32_t x = 0;
  for (;;) {
    const int32_t begin = Passes::NextUncovered(z, x, width);
    if (begin >= width) return;
    x = begin;
    while (x < width && z[x] < 0) ++x;
    FillGap(picture, width, out, z, begin, x);
  }
}

// The row in the order of the plain kernel: each surface, then the spans of the edge after
// it (or of the row's last pixel), then the gaps.
template <class Passes>
void RenderEyeRowWith(const uint32_t* picture, const uint8_t* depth, int32_t width,
                      const EyeShifts& shifts, uint32_t* out, DibrRowScratch& scratch) {
  if (width <= 0) return;
  if (shifts.identity) {
    std::memcpy(out, picture, static_cast<size_t>(width) * sizeof(uint32_t));
    return;
  }
  const auto n = static_cast<size_t>(width);
  // The vector passes may read a block past the row's depths and landing places, and write
  // landing places there.
  if (scratch.depth.size() < n + kDibrRowSlack) scratch.depth.resize(n + kDibrRowSlack);
  if (scratch.landing.size() < n + kDibrRowSlack) scratch.landing.resize(n + kDibrRowSlack);
  if (Passes::kPairs && scratch.pairs.size() < n + 2 * kDibrRowSlack) {
    scratch.pairs.resize(n + 2 * kDibrRowSlack);
  }
  int32_t* const z = scratch.depth.data();
  int32_t* const landing = scratch.landing.data();
  int32_t* const pairs = Passes::kPairs ? scratch.pairs.data() + kDibrRowSlack : nullptr;
  Passes::StartRow(depth, width, shifts.at.data(), landing, z);
  DibrSurface s{picture, depth, landing, z, out, width, 0, 0, nullptr};
  int32_t first = 0;
  while (first < width) {
    const int32_t last = Passes::SurfaceEnd(landing, first, width);
    if (last > first) {
      s.last = last;
      s.end = std::min(width, CeilPixel(landing[last]));
      RenderSurface<Passes>(s, first, pairs);
    }
    const int32_t t = landing[last];
    FlatSpan(t - kOne / 2, t + kOne / 2, picture[last], depth[last] * kOne, width, out, z);
    if (last + 1 < width) {
      const int32_t t1 = landing[last + 1];
      FlatSpan(t1 - kOne / 2, t1, picture[last + 1], depth[last + 1] * kOne, width, out, z);
    }
    first = last + 1;
  }
  FillGapsWith<Passes>(picture, width, out, z);
}

#if defined(ZQR_FRAMES_X86)
// SSE2 and AVX2 take the targets of a surface from the table of pairs, four and eight at a
// time; AVX-512 also finds the landing places, the edges, the pairs and the gaps its way.
struct Sse2RowPasses : PlainRowPasses {
  static int32_t Blocks(const DibrSurface& s, int32_t c, int32_t& p) {
    return Sse2SurfaceBlocks(s, c, p);
  }
  static constexpr bool kPairs = true;
};
struct Avx2RowPasses : Sse2RowPasses {
  static int32_t Blocks(const DibrSurface& s, int32_t c, int32_t& p) {
    return Avx2SurfaceBlocks(s, c, p);
  }
};
struct Avx512RowPasses {
  static void StartRow(const uint8_t* depth, int32_t width, const int32_t* shifts, int32_t* landing,
                       int32_t* z) {
    Avx512StartRow(depth, width, shifts, landing, z);
  }
  static int32_t SurfaceEnd(const int32_t* landing, int32_t first, int32_t width) {
    return Avx512SurfaceEnd(landing, first, width);
  }
  static void Pairs(const DibrSurface& s, int32_t first, int32_t* pairs) {
    Avx512Pairs(s, first, pairs);
  }
  static int32_t Blocks(const DibrSurface& s, int32_t c, int32_t& p) {
    return Avx512SurfaceBlocks(s, c, p);
  }
  static int32_t NextUncovered(const int32_t* z, int32_t x, int32_t width) {
    return Avx512NextUncovered(z, x, width);
  }
  static constexpr bool kPairs = true;
};
#endif

DibrKernels ChooseDibrKernels() {
  const std::vector<DibrKernels> sets = AvailableDibrKernelSets();
  return ScalarForced() ? sets.front() : sets.back();
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

void RenderEyeRow(const uint32_t* picture, const uint8_t* depth, int32_t width,
                  const EyeShifts& shifts, uint32_t* out, DibrRowScratch& scratch) {
  RenderEyeRowWith<PlainRowPasses>(picture, depth, width, shifts, out, scratch);
}

namespace {
void PlainSpanWeights(const uint32_t* n, const int32_t* length, uint32_t* w, int32_t count) {
  for (int32_t i = 0; i < count; ++i) w[i] = SpanQuotient(n[i], length[i]);
}
}  // namespace

std::vector<DibrKernels> AvailableDibrKernelSets() {
  std::vector<DibrKernels> sets = {{RenderEyeRow, PlainSpanWeights, "scalar"}};
#if defined(ZQR_FRAMES_X86)
  sets.push_back({RenderEyeRowWith<Sse2RowPasses>, Sse2SpanWeights, "sse2"});
  if (HasAvx2()) sets.push_back({RenderEyeRowWith<Avx2RowPasses>, Avx2SpanWeights, "avx2"});
  if (HasAvx512Vbmi())
    sets.push_back({RenderEyeRowWith<Avx512RowPasses>, Avx512SpanWeights, "avx512"});
#endif
  return sets;
}

const DibrKernels& ActiveDibrKernels() {
  static const DibrKernels kernels = ChooseDibrKernels();
  return kernels;
}

void RenderDibrRows(const uint32_t* picture, ptrdiff_t stride, const uint8_t* depth,
                    ptrdiff_t depth_stride, int32_t width, int32_t begin, int32_t end,
                    const DibrSettings& settings, uint32_t* left, uint32_t* right,
                    DibrRowScratch& scratch) {
  const EyeShifts left_shifts = LeftEyeShifts(settings, width);
  const EyeShifts right_shifts = RightEyeShifts(settings, width);
  const EyeRowKernel render = ActiveDibrKernels().render_eye_row;
  for (int32_t y = begin; y < end; ++y) {
    const uint32_t* row = picture + y * stride;
    const uint8_t* depth_row = depth + y * depth_stride;
    render(row, depth_row, width, left_shifts, left + y * stride, scratch);
    render(row, depth_row, width, right_shifts, right + y * stride, scratch);
  }
}

}  // namespace zqr::frames
