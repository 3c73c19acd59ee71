// libavcodec behind the backend's video decoder.
#include "platform/ffmpeg/video_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace zqr::platform::ffmpeg {
namespace {
// The frame duration of a file that gives no rate: 25 fps.
constexpr RefTime kFallbackFrameDuration = 400000;
// A step back in time this long is a clock that started again, not frames out of order.
constexpr RefTime kClockRestart = 10'000'000;
}  // namespace

MediaStatus VideoDecoder::Open(const AVStream& stream, const AVCodec& codec, RefTime origin,
                               RefTime frame_duration) {
  CodecContextPtr context(avcodec_alloc_context3(&codec));
  if (context == nullptr) return MediaStatus::kOutOfMemory;
  if (avcodec_parameters_to_context(context.get(), stream.codecpar) < 0) {
    return MediaStatus::kUnsupported;
  }
  context->thread_count = 0;  // one per core
  context->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  context->pkt_timebase = stream.time_base;
  if (avcodec_open2(context.get(), &codec, nullptr) < 0) return MediaStatus::kUnsupported;
  codec_ = std::move(context);
  stream_ = &stream;
  origin_ = origin;
  frame_duration_ = frame_duration;
  return MediaStatus::kOk;
}

int VideoDecoder::Width() const {
  return codec_->width;
}

int VideoDecoder::Height() const {
  return codec_->height;
}

AVPixelFormat VideoDecoder::PixelFormat() const {
  return codec_->pix_fmt;
}

AVColorSpace VideoDecoder::ColourSpace() const {
  return codec_->colorspace;
}

AVColorRange VideoDecoder::ColourRange() const {
  return codec_->color_range;
}

VideoDecoder::Received VideoDecoder::Receive(AVFrame& frame) {
  const int result = avcodec_receive_frame(codec_.get(), &frame);
  if (result == 0) return Received::kFrame;
  if (result == AVERROR_EOF) return Received::kEnd;
  // A drained decoder gives frames until EOF; anything else means nothing more comes.
  return draining_ ? Received::kEnd : Received::kNeedsPacket;
}

void VideoDecoder::Send(const AVPacket& packet) {
  avcodec_send_packet(codec_.get(), &packet);
}

void VideoDecoder::Drain() {
  avcodec_send_packet(codec_.get(), nullptr);
  draining_ = true;
}

void VideoDecoder::Flush() {
  avcodec_flush_buffers(codec_.get());
  draining_ = false;
  last_frame_time_ = -1;
  shift_ = 0;
}

RefTime VideoDecoder::FrameTime(const AVFrame& frame) {
  int64_t stamp = frame.best_effort_timestamp;
  if (stamp == AV_NOPTS_VALUE) stamp = frame.pts;
  RefTime time;
  if (stamp != AV_NOPTS_VALUE) {
    time = ToRefTime(stamp, stream_->time_base.num, stream_->time_base.den) - origin_ + shift_;
    // Timestamps that start again (files joined end to end, a camcorder's restarted clock)
    // go on from the last frame rather than over it.
    if (last_frame_time_ >= 0 && time < last_frame_time_ - kClockRestart) {
      shift_ += last_frame_time_ + NominalFrameDuration() - time;
      time = last_frame_time_ + NominalFrameDuration();
    }
  } else {
    time = last_frame_time_ < 0 ? 0 : last_frame_time_ + NominalFrameDuration();
  }
  if (time < 0) time = 0;
  last_frame_time_ = time;
  return time;
}

RefTime VideoDecoder::NominalFrameDuration() const {
  return frame_duration_ > 0 ? frame_duration_ : kFallbackFrameDuration;
}

}  // namespace zqr::platform::ffmpeg
