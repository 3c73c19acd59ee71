// Frame arrays and the 40-byte bitmap information header. A frame array holds 32-bit
// pixels (bytes blue, green, red and a fourth byte without colour), the column index
// varying fastest, bottom row first, with no row padding. Around the pixels sit zero
// guard pixels that nothing ever writes, so the kernels may read a little before the
// first and after the last pixel (displacements, shifted merges, vector tails) on frames
// of any width.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace zqr::frames {

static_assert(std::endian::native == std::endian::little,
              "pixels are handled as little-endian 32-bit words");

// Masks of a pixel word: blue and green in the low half, red and the fourth byte above.
inline constexpr uint32_t kLowHalf = 0x0000FFFFu;
inline constexpr uint32_t kHighHalf = 0xFFFF0000u;

class FrameArray {
 public:
  // Zero pixels before the first and after the last pixel (unless the frame has slid, see
  // AllocateSliding). The 3D Depth displacement reaches at most 255 pixels either way,
  // the stereo merge 43 pixels past the end, and the vector kernels one vector past their
  // last full block.
  static constexpr int64_t kGuardPixels = 320;
  // Largest array accepted, in pixels (keeps every index within 32 bits).
  static constexpr int64_t kMaxPixels = int64_t{1} << 28;

  FrameArray() = default;
  ~FrameArray();
  FrameArray(const FrameArray&) = delete;
  FrameArray& operator=(const FrameArray&) = delete;
  FrameArray(FrameArray&& other) noexcept;
  FrameArray& operator=(FrameArray&& other) noexcept;

  // Frees the old storage and allocates width x rows zero pixels. Returns false, leaving
  // the array empty, for a size below 1 x 1, above kMaxPixels, or when memory runs out.
  bool Allocate(int32_t width, int32_t rows);
  // The same with `slack` more zero pixels of storage below the frame, into which the
  // frame can slide down: the frame step builds a frame in the storage of the frame before
  // it, a few rows lower, where that frame's lines are still in the cache (see
  // frames/frame_step.h). The frame starts at the top. Once it has moved, the pixels
  // around it are those of earlier frames, not zero guards; only frames of
  // kMinSlidingWidth pixels or wider slide, for which no kernel's result depends on a
  // pixel outside the frame.
  bool AllocateSliding(int32_t width, int32_t rows, int64_t slack);
  // How many pixels the frame can still move down (0 without slack).
  int64_t SlideRoom() const { return data_ == nullptr ? 0 : data_ - (storage_ + kGuardPixels); }
  // Moves the frame `pixels` (at most SlideRoom()) down; it then holds whatever its new
  // storage holds.
  void SlideDown(int64_t pixels);
  // Moves the frame back to the top of its storage.
  void SlideToTop();
  void Free();
  // Sets every pixel (not the guards) to zero.
  void Zero();

  uint32_t* data() { return data_; }
  const uint32_t* data() const { return data_; }
  int32_t width() const { return width_; }
  int32_t rows() const { return rows_; }
  int64_t pixel_count() const { return int64_t{width_} * rows_; }
  size_t byte_size() const { return static_cast<size_t>(pixel_count()) * 4; }
  bool empty() const { return data_ == nullptr; }
  bool SameShape(const FrameArray& other) const {
    return width_ == other.width_ && rows_ == other.rows_;
  }

  friend void swap(FrameArray& a, FrameArray& b) noexcept;

 private:
  uint32_t* storage_ = nullptr;  // start of the allocation (front guard)
  uint32_t* data_ = nullptr;     // first pixel
  int64_t slack_ = 0;            // pixels of storage below the frame at the top
  int32_t width_ = 0;
  int32_t rows_ = 0;
};

// Frames at least this wide may slide (see FrameArray::AllocateSliding): every pixel the
// kernels' results depend on lies inside the frame, since the 3D Depth displacement
// reaches at most 255 pixels and the stereo merge 44 pixels past the picture.
inline constexpr int32_t kMinSlidingWidth = 256;

// BITMAPINFOHEADER: describes a frame to the drawing calls and heads each frame file.
struct BitmapInfoHeader {
  uint32_t size = 40;
  int32_t width = 0;
  int32_t height = 0;  // positive: rows bottom-up
  uint16_t planes = 1;
  uint16_t bit_count = 32;
  uint32_t compression = 0;  // BI_RGB
  uint32_t size_image = 0;
  int32_t x_pels_per_meter = 0;
  int32_t y_pels_per_meter = 0;
  uint32_t colors_used = 0;
  uint32_t colors_important = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40, "the information header is 40 bytes");

// A 32-bit uncompressed header for width x height pixels.
BitmapInfoHeader MakeBitmapInfoHeader(int32_t width, int32_t height);

}  // namespace zqr::frames
