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
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "frames/frame.h"

namespace zqr::frames {

// folder + separator + "temp" + the number with at least six digits + ".bmp".
std::string FrameFileName(const std::string& folder, int32_t number);
// The digits of a frame file's name ("temp" + six or more digits + ".bmp"); empty for any
// other name.
std::string_view FrameFileDigits(std::string_view name);
// The number of a path FrameFileName made; -1 for any other path.
int32_t FrameFileNumber(std::string_view path);

// The two headers before the pixels.
inline constexpr int32_t kFrameFileHeaderBytes = 54;

// File size of a frame file of width x height pixels: 54 + 4 x width x height.
int64_t FrameFileSize(int32_t width, int32_t height);

// The 14-byte file header followed by the 40-byte information header.
std::array<uint8_t, 54> FrameFileHeaders(int32_t width, int32_t height);

// Writes one frame file: created, or truncated when it exists, then the two headers and
// `height` rows of `width` pixels, bottom line first, the rows `stride` pixels apart in
// `pixels` (so a wider frame is cropped on the way to the disk). Returns false when the file
// could not be opened or written completely (a short file may remain). The file bypasses the
// page cache: a recording writes gigabytes that only the encoder reads back, once or twice.
bool WriteFrameFileNow(const std::string& path, int32_t width, int32_t height,
                       const uint32_t* pixels, int32_t stride);

// The frame-file writers. Each file is written from a frame array that belongs to the
// writers alone until the file is written: a copy made by Submit, or a whole frame handed
// over with QueueFrame; so no file can ever see a later frame's pixels. One background
// thread writes the files one at a time, in the order queued. At most a bounded number of
// frames are in flight (queued or taken, not yet written or given back): a submit or take
// waits only when that bound is reached, so memory stays flat when the disk is slower than
// the decoder. Written frames are kept for reuse while fewer than the bound are held.
class FrameFileWriter {
 public:
  using WriteFunction = std::function<bool(const std::string& path, int32_t width, int32_t height,
                                           const uint32_t* pixels, int32_t stride)>;
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

  // Copies `height` rows of `width` pixels, rows `stride` pixels apart in `pixels`, into a
  // frame of the writers' own and queues the file `path`. A copy that cannot be allocated
  // counts as a failed file.
  void Submit(std::string path, const uint32_t* pixels, int32_t width, int32_t height,
              int32_t stride);
  void Submit(std::string path, const uint32_t* pixels, int32_t width, int32_t height) {
    Submit(std::move(path), pixels, width, height, width);
  }
  // Whole frames handed over, for a caller that keeps frames in rotation (the frame step):
  // TakeFrame waits, like Submit, until a frame may be in flight and returns an array of
  // width x rows pixels (zeros, or a frame written before: the caller overwrites it), empty
  // when memory runs out; it counts as in flight from then on. Each taken frame is answered
  // by one QueueFrame, which hands over a frame (any array, not necessarily the one taken)
  // to write its first `height` rows cropped to `width` pixels, or by one ReturnFrame.
  FrameArray TakeFrame(int32_t width, int32_t rows);
  void QueueFrame(std::string path, FrameArray frame, int32_t width, int32_t height);
  void ReturnFrame(FrameArray frame);
  // Returns when every submitted file has been written (or has failed).
  void WaitAll();

  struct Stats {
    int64_t submitted = 0;
    int64_t written = 0;
    int64_t failed = 0;
    int64_t waits = 0;  // submits that had to wait for a free buffer
    int32_t peak_in_flight = 0;
    int32_t buffers = 0;  // frames the writers hold: queued, being written or kept for reuse
  };
  Stats stats() const;

 private:
  struct Job {
    std::string path;
    FrameArray frame;
    int32_t width = 0;
    int32_t height = 0;
  };
  void Run();
  // With the lock held: waits for room for one more frame in flight and counts it.
  void EnterFlight(std::unique_lock<std::mutex>& lock, size_t frame_bytes);
  // With the lock held: keeps `frame` for reuse, or frees it when the bound is held.
  void KeepOrDrop(FrameArray frame, size_t frame_bytes);

  Options options_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> queue_;
  std::vector<FrameArray> spare_;
  int32_t in_flight_ = 0;
  bool stop_ = false;
  Stats stats_;
  std::thread thread_;
};

}  // namespace zqr::frames
