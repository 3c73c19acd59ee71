// Frame files: each processed frame of a conversion as a numbered, uncompressed 32-bit BMP
// file in the temporary folder, written off the streaming thread.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/memory.h"

namespace zqr::frames {

// Allocator of the writers' frame buffers: frame-sized, so on large pages where the system
// has them, like the frame arrays (see platform/memory.h).
template <class T>
struct LargeBufferAllocator {
  using value_type = T;
  LargeBufferAllocator() = default;
  template <class U>
  explicit LargeBufferAllocator(const LargeBufferAllocator<U>& /*other*/) {}
  T* allocate(size_t count) {
    void* buffer = platform::AllocateLargeBuffer(count * sizeof(T));
    if (buffer == nullptr) throw std::bad_alloc();
    return static_cast<T*>(buffer);
  }
  void deallocate(T* buffer, size_t /*count*/) { platform::FreeLargeBuffer(buffer); }
  friend bool operator==(const LargeBufferAllocator&, const LargeBufferAllocator&) { return true; }
};

// The pixels of one frame file in flight.
using FrameFileBuffer = std::vector<uint32_t, LargeBufferAllocator<uint32_t>>;

// folder + "/temp" + the number with at least six digits + ".bmp".
std::string FrameFileName(const std::string& folder, int32_t number);

// File size of a frame file of width x height pixels: 54 + 4 x width x height.
int64_t FrameFileSize(int32_t width, int32_t height);

// The 14-byte file header followed by the 40-byte information header.
std::array<uint8_t, 54> FrameFileHeaders(int32_t width, int32_t height);

// Writes one frame file: created, or truncated when it exists, then the two headers and
// `height` rows of `width` pixels, bottom line first. Returns false when the file could
// not be opened or written completely (a short file may remain).
bool WriteFrameFileNow(const std::string& path, int32_t width, int32_t height,
                       const uint32_t* pixels);

// The frame-file writers. Each submitted frame is copied into a buffer of its own, so the
// caller may refill its frame at once; one background thread writes the files one at a
// time, in the order submitted. At most a bounded number of frames are in flight (copied
// but not yet written): a submit waits only when that bound is reached, so memory stays
// flat when the disk is slower than the decoder.
class FrameFileWriter {
 public:
  using WriteFunction = std::function<bool(const std::string& path, int32_t width, int32_t height,
                                           const uint32_t* pixels)>;
  struct Options {
    size_t memory_budget = size_t{64} << 20;  // bytes of frames in flight
    int32_t max_in_flight = 8;                // and never more frames than this
    WriteFunction write = WriteFrameFileNow;
  };

  FrameFileWriter();
  explicit FrameFileWriter(Options options);
  ~FrameFileWriter();
  FrameFileWriter(const FrameFileWriter&) = delete;
  FrameFileWriter& operator=(const FrameFileWriter&) = delete;

  // Frames in flight allowed for frames of `frame_bytes` bytes: the budget divided by the
  // frame size, within 1 .. max_in_flight.
  int32_t BoundFor(size_t frame_bytes) const;

  // Copies `height` rows of `width` pixels, rows `stride` pixels apart in `pixels` (so the
  // copy can crop a wider frame), and queues the file `path`.
  void Submit(std::string path, const uint32_t* pixels, int32_t width, int32_t height,
              int32_t stride);
  void Submit(std::string path, const uint32_t* pixels, int32_t width, int32_t height) {
    Submit(std::move(path), pixels, width, height, width);
  }
  // The two halves of Submit, for a caller that fills the buffer itself (the frame step
  // crops strip by strip into it): TakeBuffer waits, like Submit, until a frame may be in
  // flight and returns a buffer of `count` pixels that counts as in flight from then on;
  // Queue hands it back with the file to write. Every taken buffer must be queued.
  FrameFileBuffer TakeBuffer(size_t count);
  void Queue(std::string path, FrameFileBuffer pixels, int32_t width, int32_t height);
  // Returns when every submitted file has been written (or has failed).
  void WaitAll();

  struct Stats {
    int64_t submitted = 0;
    int64_t written = 0;
    int64_t failed = 0;
    int64_t waits = 0;  // submits that had to wait for a free buffer
    int32_t peak_in_flight = 0;
    int32_t buffers = 0;  // frame buffers currently held
  };
  Stats stats() const;

 private:
  struct Job {
    std::string path;
    FrameFileBuffer pixels;
    int32_t width = 0;
    int32_t height = 0;
  };
  void Run();

  Options options_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> queue_;
  std::vector<FrameFileBuffer> spare_;
  int32_t in_flight_ = 0;
  bool stop_ = false;
  Stats stats_;
  std::thread thread_;
};

}  // namespace zqr::frames
