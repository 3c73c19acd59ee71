// Frame array storage: one aligned allocation holding the front guard, the pixels and
// the back guard, all zero when allocated; large frames on large pages where the system
// has them (see platform/memory.h).
#include "frames/frame.h"

#include <cstring>
#include <utility>

#include "platform/memory.h"

namespace zqr::frames {

FrameArray::~FrameArray() {
  Free();
}

FrameArray::FrameArray(FrameArray&& other) noexcept {
  swap(*this, other);
}

FrameArray& FrameArray::operator=(FrameArray&& other) noexcept {
  if (this != &other) {
    Free();
    swap(*this, other);
  }
  return *this;
}

bool FrameArray::Allocate(int32_t width, int32_t rows) {
  return AllocateSliding(width, rows, 0);
}

bool FrameArray::AllocateSliding(int32_t width, int32_t rows, int64_t slack) {
  Free();
  if (width < 1 || rows < 1 || int64_t{width} * rows > kMaxPixels || slack < 0 ||
      slack > kMaxPixels) {
    return false;
  }
  const size_t total = static_cast<size_t>(int64_t{width} * rows + slack + 2 * kGuardPixels);
  void* memory = platform::AllocateLargeBuffer(total * sizeof(uint32_t));
  if (memory == nullptr) return false;
  storage_ = static_cast<uint32_t*>(memory);
  slack_ = slack;
  data_ = storage_ + kGuardPixels + slack;
  width_ = width;
  rows_ = rows;
  return true;
}

void FrameArray::SlideDown(int64_t pixels) {
  if (pixels > 0 && pixels <= SlideRoom()) data_ -= pixels;
}

void FrameArray::SlideToTop() {
  if (data_ != nullptr) data_ = storage_ + kGuardPixels + slack_;
}

void FrameArray::Free() {
  if (storage_ != nullptr) platform::FreeLargeBuffer(storage_);
  storage_ = nullptr;
  data_ = nullptr;
  slack_ = 0;
  width_ = 0;
  rows_ = 0;
}

void FrameArray::Zero() {
  if (data_ != nullptr) std::memset(data_, 0, byte_size());
}

void swap(FrameArray& a, FrameArray& b) noexcept {
  std::swap(a.storage_, b.storage_);
  std::swap(a.data_, b.data_);
  std::swap(a.slack_, b.slack_);
  std::swap(a.width_, b.width_);
  std::swap(a.rows_, b.rows_);
}

BitmapInfoHeader MakeBitmapInfoHeader(int32_t width, int32_t height) {
  BitmapInfoHeader header;
  header.width = width;
  header.height = height;
  return header;
}

}  // namespace zqr::frames
