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

// A row's work space: depth and coverage of the target row. Kept by the caller (one per
// thread), so that no frame allocates.
struct DibrRowScratch {
  std::vector<int32_t> depth;
};

// The plain kernel: one eye's row from one picture row and its depth row (`width` pixels,
// BGRX), into `out`, a span between two neighbours at a time.
void RenderEyeRowScalar(const uint32_t* picture, const uint8_t* depth, int32_t width,
                        const EyeShifts& shifts, uint32_t* out, DibrRowScratch& scratch);
// The same bytes, a run of pixels of one depth at a time (depth planes are mostly such runs).
void RenderEyeRow(const uint32_t* picture, const uint8_t* depth, int32_t width,
                  const EyeShifts& shifts, uint32_t* out, DibrRowScratch& scratch);

// Both views of rows begin .. end - 1 of a picture: rows `stride` pixels apart in the
// picture and the views, `depth_stride` bytes apart in the depth plane.
void RenderDibrRows(const uint32_t* picture, ptrdiff_t stride, const uint8_t* depth,
                    ptrdiff_t depth_stride, int32_t width, int32_t begin, int32_t end,
                    const DibrSettings& settings, uint32_t* left, uint32_t* right,
                    DibrRowScratch& scratch);

}  // namespace zqr::frames
