// libavcodec and libswresample behind the preview's sound decoder.
#include "platform/ffmpeg/sound_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <cmath>
#include <cstddef>

#include "platform/ffmpeg/preview_sound.h"

namespace zqr::platform::ffmpeg {

bool SoundDecoder::Open(const AVStream& stream, PreviewSound& device) {
  const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
  if (codec == nullptr) return false;
  CodecContextPtr decoder(avcodec_alloc_context3(codec));
  if (decoder == nullptr || avcodec_parameters_to_context(decoder.get(), stream.codecpar) < 0 ||
      avcodec_open2(decoder.get(), codec, nullptr) < 0) {
    return false;
  }
  FramePtr frame = MakeFrame();
  if (frame == nullptr) return false;
  if (!device.Open(decoder->sample_rate, decoder->ch_layout.nb_channels)) return false;
  AVChannelLayout out_layout;
  av_channel_layout_default(&out_layout, device.Channels());
  SwrContext* made = nullptr;
  const int result =
      swr_alloc_set_opts2(&made, &out_layout, AV_SAMPLE_FMT_FLT, device.Rate(), &decoder->ch_layout,
                          decoder->sample_fmt, decoder->sample_rate, 0, nullptr);
  SwrContextPtr resampler(made);
  av_channel_layout_uninit(&out_layout);
  if (result < 0 || swr_init(resampler.get()) < 0) return false;
  codec_ = std::move(decoder);
  frame_ = std::move(frame);
  resampler_ = std::move(resampler);
  device_ = &device;
  return true;
}

void SoundDecoder::Play(const AVPacket& packet, int32_t volume) {
  if (avcodec_send_packet(codec_.get(), &packet) < 0) return;
  const auto gain = static_cast<float>(std::pow(10.0, volume / 2000.0));
  while (avcodec_receive_frame(codec_.get(), frame_.get()) == 0) {
    const int capacity = swr_get_out_samples(resampler_.get(), frame_->nb_samples);
    if (capacity > 0) {
      const int channels = device_->Channels();
      resampled_.resize(static_cast<size_t>(capacity) * static_cast<size_t>(channels));
      auto* out = reinterpret_cast<uint8_t*>(resampled_.data());
      const int frames = swr_convert(resampler_.get(), &out, capacity,
                                     const_cast<const uint8_t**>(frame_->extended_data),  // NOLINT
                                     frame_->nb_samples);
      if (frames > 0) {
        const size_t count = static_cast<size_t>(frames) * static_cast<size_t>(channels);
        for (size_t i = 0; i < count; ++i) resampled_[i] *= gain;
        device_->Queue(resampled_.data(), frames);
      }
    }
    av_frame_unref(frame_.get());
  }
}

void SoundDecoder::Flush() {
  if (!IsOpen()) return;
  avcodec_flush_buffers(codec_.get());
  swr_close(resampler_.get());
  swr_init(resampler_.get());
}

}  // namespace zqr::platform::ffmpeg
