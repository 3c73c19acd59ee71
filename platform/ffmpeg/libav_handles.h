// Owning holders for the libav objects the backend makes, so that every way out of a
// function frees what it made, and the conversions between a stream's timestamps and
// the seam's 100-ns media time. The libav types are only declared here.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/media.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;
struct SwsContext;

namespace zqr::platform::ffmpeg {

struct LibavDeleter {
  void operator()(AVFormatContext* format) const;
  void operator()(AVCodecContext* codec) const;
  void operator()(AVFrame* frame) const;
  void operator()(AVPacket* packet) const;
  void operator()(SwsContext* scaler) const;
  void operator()(SwrContext* resampler) const;
};

using FormatContextPtr = std::unique_ptr<AVFormatContext, LibavDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, LibavDeleter>;
using FramePtr = std::unique_ptr<AVFrame, LibavDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, LibavDeleter>;
using SwsContextPtr = std::unique_ptr<SwsContext, LibavDeleter>;
using SwrContextPtr = std::unique_ptr<SwrContext, LibavDeleter>;

// Empty frames and packets; null when memory runs out.
FramePtr MakeFrame();
PacketPtr MakePacket();

// A timestamp in units of num/den seconds as media time, and back.
RefTime ToRefTime(int64_t stamp, int num, int den);
int64_t FromRefTime(RefTime time, int num, int den);

}  // namespace zqr::platform::ffmpeg
