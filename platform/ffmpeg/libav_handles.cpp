// The frees behind the backend's libav holders, and its timestamp conversions.
#include "platform/ffmpeg/libav_handles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace zqr::platform::ffmpeg {

void LibavDeleter::operator()(AVFormatContext* format) const {
  avformat_close_input(&format);
}

void LibavDeleter::operator()(AVCodecContext* codec) const {
  avcodec_free_context(&codec);
}

void LibavDeleter::operator()(AVFrame* frame) const {
  av_frame_free(&frame);
}

void LibavDeleter::operator()(AVPacket* packet) const {
  av_packet_free(&packet);
}

void LibavDeleter::operator()(SwsContext* scaler) const {
  sws_freeContext(scaler);
}

void LibavDeleter::operator()(SwrContext* resampler) const {
  swr_free(&resampler);
}

FramePtr MakeFrame() {
  return FramePtr(av_frame_alloc());
}

PacketPtr MakePacket() {
  return PacketPtr(av_packet_alloc());
}

RefTime ToRefTime(int64_t stamp, int num, int den) {
  return av_rescale_q(stamp, AVRational{num, den},
                      AVRational{1, static_cast<int>(kUnitsPerSecond)});
}

int64_t FromRefTime(RefTime time, int num, int den) {
  return av_rescale_q(time, AVRational{1, static_cast<int>(kUnitsPerSecond)}, AVRational{num, den});
}

}  // namespace zqr::platform::ffmpeg
