// The depth seam: grey planes read from a media file (a depth video or a still depth image)
// and written to one, a frame at a time, at the picture's size. Planes are 8-bit, one byte a
// pixel, bottom row first like the grabbed pictures they go with; the levels are full range
// (0..255) whatever range the file stores.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace zqr::platform {

class GreyVideoWriter;

class GreyVideoReader {
 public:
  virtual ~GreyVideoReader() = default;
  // The next frame scaled to the reader's size into `plane` (rows `stride` bytes apart), and
  // its time in seconds from the first frame's; false at the end (or when the rest cannot be
  // decoded), the plane then unchanged.
  virtual bool Next(uint8_t* plane, std::ptrdiff_t stride, double& seconds) = 0;
  // Whether the file is a single picture (a still image), which serves every frame.
  virtual bool IsStill() const = 0;
};

using GreyVideoOpener = std::unique_ptr<GreyVideoReader> (*)(const std::string& path, int32_t width,
                                                             int32_t height, std::string& failure);
using GreyVideoCreator = std::unique_ptr<GreyVideoWriter> (*)(const std::string& path,
                                                              int32_t width, int32_t height,
                                                              double frames_per_second,
                                                              std::string& failure);

namespace grey_video_detail {
struct Slot {
  std::mutex mutex;
  GreyVideoOpener open = nullptr;
  GreyVideoCreator create = nullptr;
};
inline Slot& TheSlot() {
  static Slot slot;
  return slot;
}
}  // namespace grey_video_detail

// Chooses the backend (start-up, with the media graph's).
inline void InstallGreyVideo(GreyVideoOpener open, GreyVideoCreator create) {
  std::lock_guard lock(grey_video_detail::TheSlot().mutex);
  grey_video_detail::TheSlot().open = open;
  grey_video_detail::TheSlot().create = create;
}

// Opens `path` and decodes its first frame, so that a file that opens but cannot be decoded
// is refused here. Null with the reason in `failure` when it cannot be used. A limited-range
// file's luma is stretched to 0..255 (16 -> 0, 235 -> 255); an untagged grey file is taken as
// full range, untagged YUV as limited, as the picture's own decoding takes them.
inline std::unique_ptr<GreyVideoReader> OpenGreyVideo(const std::string& path, int32_t width,
                                                      int32_t height, std::string& failure) {
  GreyVideoOpener open;
  {
    std::lock_guard lock(grey_video_detail::TheSlot().mutex);
    open = grey_video_detail::TheSlot().open;
  }
  if (open == nullptr) failure = "no media backend is installed";
  return open != nullptr ? open(path, width, height, failure) : nullptr;
}

class GreyVideoWriter {
 public:
  virtual ~GreyVideoWriter() = default;
  // One frame (width x height, rows `stride` bytes apart, bottom row first).
  virtual bool Write(const uint8_t* plane, std::ptrdiff_t stride) = 0;
  // Ends the file (the encoder drained, the trailer written); false when it could not be.
  virtual bool Finish() = 0;
  // Why the last call failed.
  virtual std::string Failure() const = 0;
};

// Creates `path` for width x height grey frames at frames_per_second: a .mkv file holds them
// losslessly (FFV1, grey), other containers in their usual codec as grey or as 4:2:0 with
// neutral colour. Null with the reason in `failure`.
inline std::unique_ptr<GreyVideoWriter> CreateGreyVideo(const std::string& path, int32_t width,
                                                        int32_t height, double frames_per_second,
                                                        std::string& failure) {
  GreyVideoCreator create;
  {
    std::lock_guard lock(grey_video_detail::TheSlot().mutex);
    create = grey_video_detail::TheSlot().create;
  }
  if (create == nullptr) failure = "no media backend is installed";
  return create != nullptr ? create(path, width, height, frames_per_second, failure) : nullptr;
}

}  // namespace zqr::platform
