// The grabber's end of the graph: two frame buffers that the streaming thread converts
// into in turn, the newest delivered one kept for GetCurrentBuffer while the other is
// filled, and the callback each delivered frame goes to. No libav here: the frames
// arrive as converted bytes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/media.h"

namespace zqr::platform::ffmpeg {

class SampleGrabber {
 public:
  // Two buffers of `sample_size` bytes each; false when memory runs out.
  bool Allocate(int32_t sample_size);
  int32_t SampleSize() const { return sample_size_; }

  // Whether delivered frames are kept for CopyCurrent (off: nothing is kept).
  void SetBuffering(bool buffering) { buffering_ = buffering; }
  // Installs the callback (null removes it) and its selector; waits for a call in
  // progress to return.
  void SetCallback(SampleGrabberCallback* callback, int32_t selector);

  // The buffer the streaming thread converts the next frame into: never the kept one.
  int WriteIndex();
  uint8_t* Buffer(int index) { return buffers_[index].get(); }
  // Hands buffer `index` to the callback with its stream time, then keeps it.
  void Deliver(int index, RefTime time);
  // Keeps buffer `index` without calling the callback (the frame a paused graph is cued
  // on, shown to the preview).
  void Keep(int index);

  // Copies the kept frame, as GetCurrentBuffer does.
  MediaStatus CopyCurrent(int32_t* size, void* buffer);

 private:
  struct BufferDeleter {
    void operator()(uint8_t* buffer) const;
  };

  std::unique_ptr<uint8_t, BufferDeleter> buffers_[2];
  int32_t sample_size_ = 0;
  std::atomic<bool> buffering_{false};

  // Held while the callback runs, so that SetCallback can wait for it to return.
  std::mutex callback_mutex_;
  SampleGrabberCallback* callback_ = nullptr;
  int32_t selector_ = kSelectSampleCB;

  // Guards which buffer is kept.
  std::mutex kept_mutex_;
  int kept_ = -1;
};

}  // namespace zqr::platform::ffmpeg
