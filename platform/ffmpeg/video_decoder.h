// Video decoding: libavcodec's decoder for the graph's video stream, on its own frame and
// slice threads, and the stream time of each decoded frame. Owned by the graph, built on
// the building thread and then driven by the streaming thread alone.
#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "platform/ffmpeg/libav_handles.h"
#include "platform/media.h"

struct AVCodec;
struct AVStream;

namespace zqr::platform::ffmpeg {

class VideoDecoder {
 public:
  enum class Received { kFrame, kNeedsPacket, kEnd };

  // Opens `codec` for `stream`, whose timestamps count from `origin`; `frame_duration`
  // numbers the frames of a stream without timestamps. kUnsupported when it cannot open.
  MediaStatus Open(const AVStream& stream, const AVCodec& codec, RefTime origin,
                   RefTime frame_duration);
  // The picture as decoded, before any turn.
  int Width() const;
  int Height() const;
  AVPixelFormat PixelFormat() const;
  // The colour matrix and range the stream is tagged with (unspecified when untagged).
  AVColorSpace ColourSpace() const;
  AVColorRange ColourRange() const;

  Received Receive(AVFrame& frame);
  // A damaged packet is dropped; the decoder resynchronises on the next ones.
  void Send(const AVPacket& packet);
  // No more packets come: the frames still inside are given out, then kEnd.
  void Drain();
  // Forgets everything sent (after a seek).
  void Flush();

  // The frame's stream time, never negative; frames without timestamps follow the one
  // before at the nominal rate.
  RefTime FrameTime(const AVFrame& frame);
  // The file's frame duration, or 25 fps when it gives none.
  RefTime NominalFrameDuration() const;

 private:
  CodecContextPtr codec_;
  const AVStream* stream_ = nullptr;
  RefTime origin_ = 0;
  RefTime frame_duration_ = 0;
  bool draining_ = false;
  RefTime last_frame_time_ = -1;
  RefTime shift_ = 0;  // added to the timestamps since their clock started again
};

}  // namespace zqr::platform::ffmpeg
