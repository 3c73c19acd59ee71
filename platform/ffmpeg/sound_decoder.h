// Sound decoding for the preview: the file's sound stream decoded, resampled to what the
// preview sound device plays (interleaved floats at its rate), scaled to the graph's
// volume and queued to the device. Used by the streaming thread alone.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/ffmpeg/libav_handles.h"

struct AVStream;

namespace zqr::platform::ffmpeg {

class PreviewSound;

class SoundDecoder {
 public:
  // Opens the decoder of `stream`, then `device` for its rate and channels, and a
  // resampler between the two. False (with nothing kept) when the stream cannot be
  // decoded or no device opens. The device must outlive the decoder's use.
  bool Open(const AVStream& stream, PreviewSound& device);
  bool IsOpen() const { return device_ != nullptr; }

  // Decodes the packet and queues its sound at `volume`, in hundredths of a decibel.
  void Play(const AVPacket& packet, int32_t volume);
  // Forgets the sound sent so far (after a seek).
  void Flush();

 private:
  CodecContextPtr codec_;
  SwrContextPtr resampler_;
  FramePtr frame_;
  std::vector<float> resampled_;
  PreviewSound* device_ = nullptr;
};

}  // namespace zqr::platform::ffmpeg
