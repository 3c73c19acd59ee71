// Deinterlacing: the frames of a stream that says it is interlaced are made whole before
// they are scaled, so that the stereo step does not double their combing. The first field
// of each frame is kept; each line of the second is interpolated from the lines of the
// first around it, and where the picture stands still from the second fields of this frame
// and the one before, held within what the motion allows (the method of libavfilter's
// bwdif: w3fdif's filters with yadif's clip). It needs no later frame, so frames leave as
// soon as they are decoded. Driven by the streaming thread alone.
#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <cstdint>

#include "platform/ffmpeg/libav_handles.h"

struct AVStream;

namespace zqr::platform::ffmpeg {

// One plane's missing lines (those of the field `missing_parity`, 0 even, 1 odd) of
// `width` x `height` bytes: copied from `cur` where they belong to the kept field,
// interpolated elsewhere. `prev` is the frame before, or null when there is none (the
// start or a seek): the lines are then interpolated from their field alone.
void DeinterlacePlane(uint8_t* out, int out_stride, const uint8_t* prev, int prev_stride,
                      const uint8_t* cur, int cur_stride, int width, int height,
                      int missing_parity);

class Deinterlacer {
 public:
  // Deinterlaces the frames of `stream` when `wanted`, the stream says its frames are
  // interlaced and they come in a planar 8-bit format; otherwise frames pass unchanged.
  void Setup(const AVStream& stream, AVPixelFormat format, bool wanted);
  bool active() const { return active_; }

  // Replaces an interlaced decoded frame by its whole picture, in place; a progressive one
  // stays as it is. False when memory runs out (the frame is then left as decoded).
  bool Apply(AVFrame& frame);
  // Forgets the frame before (after a seek).
  void Flush();

 private:
  bool active_ = false;
  FramePtr previous_;  // the last frame as decoded
};

}  // namespace zqr::platform::ffmpeg
