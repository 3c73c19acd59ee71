// The preview's sound output: an SDL2 audio device fed with interleaved float samples.
// Opened on first use; when no device can be opened (a build machine, a muted session)
// every call quietly does nothing, so a missing device means silence, never an error.
#pragma once

#include <cstdint>

namespace zqr::platform::ffmpeg {

class PreviewSound {
 public:
  PreviewSound() = default;
  ~PreviewSound();
  PreviewSound(const PreviewSound&) = delete;
  PreviewSound& operator=(const PreviewSound&) = delete;

  // Opens the default device for `rate` Hz and up to `channels` channels. Returns false
  // (and stays silent from then on) when there is none. The device may choose another
  // rate or channel count: read them back with Rate() and Channels().
  bool Open(int rate, int channels);
  bool IsOpen() const { return device_ != 0; }
  int Rate() const { return rate_; }
  int Channels() const { return channels_; }

  // Appends samples (Channels() floats per frame) to the device's queue. Drops them
  // when more than `max_queued_seconds` of sound already waits, so a stalled picture
  // cannot make the queue grow without bound.
  void Queue(const float* samples, int frames, double max_queued_seconds = 4.0);
  void SetPaused(bool paused);
  // Drops everything queued (after a seek or a stop).
  void Clear();

  // Frees what SDL keeps for the calling thread (its error text); for threads that SDL
  // did not start, called before they end.
  static void ReleaseThreadState();

 private:
  uint32_t device_ = 0;
  bool subsystem_ = false;
  int rate_ = 0;
  int channels_ = 0;
};

}  // namespace zqr::platform::ffmpeg
