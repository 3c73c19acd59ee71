// The grabber's double buffer and callback.
#include "platform/ffmpeg/sample_grabber.h"

#include <cstring>

#include "platform/memory.h"

namespace zqr::platform::ffmpeg {

void SampleGrabber::BufferDeleter::operator()(uint8_t* buffer) const {
  FreeLargeBuffer(buffer);
}

// The buffers hold a whole RGB32 frame each and are written and read once per frame, so
// they live on large pages like the frame arrays.
bool SampleGrabber::Allocate(int32_t sample_size) {
  for (auto& buffer : buffers_) {
    buffer.reset(static_cast<uint8_t*>(AllocateLargeBuffer(static_cast<size_t>(sample_size))));
    if (buffer == nullptr) return false;
  }
  sample_size_ = sample_size;
  return true;
}

void SampleGrabber::SetCallback(SampleGrabberCallback* callback, int32_t selector) {
  std::lock_guard lock(callback_mutex_);
  callback_ = callback;
  selector_ = selector;
}

int SampleGrabber::WriteIndex() {
  std::lock_guard lock(kept_mutex_);
  return kept_ == 0 ? 1 : 0;
}

void SampleGrabber::Deliver(int index, RefTime time) {
  {
    std::lock_guard lock(callback_mutex_);
    if (callback_ != nullptr) {
      uint8_t* buffer = Buffer(index);
      const double seconds = static_cast<double>(time) / static_cast<double>(kUnitsPerSecond);
      if (selector_ == kSelectBufferCB) {
        callback_->BufferCB(seconds, buffer, sample_size_);
      } else {
        callback_->SampleCB(seconds, GrabbedSample{buffer, sample_size_, time});
      }
    }
  }
  Keep(index);
}

void SampleGrabber::Keep(int index) {
  if (!buffering_) return;
  std::lock_guard lock(kept_mutex_);
  kept_ = index;
}

MediaStatus SampleGrabber::CopyCurrent(int32_t* size, void* buffer) {
  if (size == nullptr) return MediaStatus::kInvalidArgument;
  if (!buffering_ || sample_size_ == 0) return MediaStatus::kNoSample;
  std::lock_guard lock(kept_mutex_);
  if (kept_ < 0) return MediaStatus::kNoSample;
  if (buffer == nullptr) {
    *size = sample_size_;
    return MediaStatus::kOk;
  }
  if (*size < sample_size_) return MediaStatus::kInvalidArgument;
  std::memcpy(buffer, Buffer(kept_), static_cast<size_t>(sample_size_));
  *size = sample_size_;
  return MediaStatus::kOk;
}

}  // namespace zqr::platform::ffmpeg
