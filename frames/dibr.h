// Depth-image-based rendering: the two eyes' views of a picture rendered from a per-pixel
// depth plane, as 2D-to-3D converters make them. A point of depth level g (0 farthest, 255
// nearest) has the disparity d = (g / 255 - C) x P / 100 x W pixels between the eyes (W the
// view's width, P the divergence in percent of it, C the level at the screen's plane); the
// right eye sees it d pixels further left than the left eye, so a positive d stands in front
// of the screen.
//
// Each synthesised eye is a forward warp of the picture, row by row: every span between two
// neighbouring pixels of the same surface lands where its ends land, and the pixels it covers
// take colour and depth interpolated along it, so that a smooth depth ramp stays smooth (no
// whole-pixel steps). Where two surfaces land on one pixel the nearer wins. A depth edge (the
// disparity jumps by more than a pixel between neighbours) is not bridged; the gap it opens
// is filled from its farther side, the background, never from the object in front.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zqr::frames {

enum class SyntheticView : int32_t {
  kBoth = 0,   // each eye shifted by half the disparity
  kLeft = 1,   // the picture is the right eye; the left eye has the whole disparity
  kRight = 2,  // the picture is the left eye; the right eye has the whole disparity
};

struct DibrSettings {
  double divergence_percent = 2.5;  // P, 0 .. 25
  double convergence = 0.5;         // C, 0 .. 1
  SyntheticView synthetic = SyntheticView::kBoth;
};

// The shift in 1/256 pixel, for each depth level, of one eye's view against the picture: a
// pixel at x lands at x + shift / 256. Zero throughout for an eye that is the picture itself.
struct EyeShifts {
  std::array<int32_t, 256> at{};
  bool identity = true;
};
EyeShifts LeftEyeShifts(const DibrSettings& settings, int32_t width);
EyeShifts RightEyeShifts(const DibrSettings& settings, int32_t width);

// A row's work space: depth and coverage of the target row, where each picture pixel lands
// and which pair covers each target. Kept by the caller (one per thread), so that no frame
// allocates.
struct DibrRowScratch {
  std::vector<int32_t> depth;
  std::vector<int32_t> landing;
  std::vector<int32_t> pairs;
};

// The plain kernel: one eye's row from one picture row and its depth row (`width` pixels,
// BGRX), into `out`, a span between two neighbours at a time.
void RenderEyeRowScalar(const uint32_t* picture, const uint8_t* depth, int32_t width,
                        const EyeShifts& shifts, uint32_t* out, DibrRowScratch& scratch);
// The same bytes, target pixel by target pixel along each stretch of one surface, in plain
// C++ (the kernel of the plain set below).
void RenderEyeRow(const uint32_t* picture, const uint8_t* depth, int32_t width,
                  const EyeShifts& shifts, uint32_t* out, DibrRowScratch& scratch);

// The row kernels this CPU can run: the plain set first, then vector ones after a check of
// the CPU's features. Every set gives the bytes of RenderEyeRowScalar.
using EyeRowKernel = void (*)(const uint32_t* picture, const uint8_t* depth, int32_t width,
                              const EyeShifts& shifts, uint32_t* out, DibrRowScratch& scratch);
// The weights of spans as a set computes them: w[i] = floor(n[i] / length[i]) for
// 0 <= n[i] < 256 length[i], 1 <= length[i] <= 512, `count` a multiple of 16.
using SpanWeightsKernel = void (*)(const uint32_t* n, const int32_t* length, uint32_t* w,
                                   int32_t count);
struct DibrKernels {
  EyeRowKernel render_eye_row;
  SpanWeightsKernel span_weights;
  const char* name;
};
// The set RenderDibrRows uses: the best one, or the plain one when ZQR_FORCE_SCALAR=1.
const DibrKernels& ActiveDibrKernels();
// Every set this CPU can run, the plain one first, whatever the environment says.
std::vector<DibrKernels> AvailableDibrKernelSets();

// One surface of a row as the faster kernels walk it (pixels whose neighbour pairs each span
// at most two pixels), up to picture pixel `last`, whose spans end before target `end`.
// landing[x] = 256 x + the shift of pixel x; z holds the targets' depths in 1/256 level, -1
// where nothing has covered them yet; pairs[c], where a kernel set keeps it, the pair whose
// span covers target c.
struct DibrSurface {
  const uint32_t* picture;
  const uint8_t* depth;
  const int32_t* landing;
  int32_t* z;
  uint32_t* out;
  int32_t width;
  int32_t last;
  int32_t end;
  const int32_t* pairs;
};
// How far past a row the vector kernels may read and write their scratch arrays.
inline constexpr size_t kDibrRowSlack = 64;

// floor(n / length) for 0 <= n <= 2^17 and 1 <= length <= 512, the range of a span's
// weights, by a multiply with a reciprocal: with m = ceil(2^26 / length) = (2^26 + e) / length,
// 0 <= e < length, n m / 2^26 = n / length + n e / (length 2^26), and n e <= 2^17 x 511 < 2^26,
// so the excess stays below 1 / length and cannot reach the next whole quotient.
inline constexpr std::array<uint32_t, 513> kSpanReciprocals = [] {
  std::array<uint32_t, 513> m{};
  for (uint32_t length = 1; length <= 512; ++length) {
    m[length] = ((uint32_t{1} << 26) + length - 1) / length;
  }
  return m;
}();
inline uint32_t SpanQuotient(uint32_t n, int32_t length) {
  return static_cast<uint32_t>(uint64_t{n} * kSpanReciprocals[static_cast<size_t>(length)] >> 26);
}

// Both views of rows begin .. end - 1 of a picture: rows `stride` pixels apart in the
// picture and the views, `depth_stride` bytes apart in the depth plane.
void RenderDibrRows(const uint32_t* picture, ptrdiff_t stride, const uint8_t* depth,
                    ptrdiff_t depth_stride, int32_t width, int32_t begin, int32_t end,
                    const DibrSettings& settings, uint32_t* left, uint32_t* right,
                    DibrRowScratch& scratch);

}  // namespace zqr::frames
