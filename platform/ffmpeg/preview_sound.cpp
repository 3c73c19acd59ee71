// SDL2 queue-based audio output for the preview sound.
#include "platform/ffmpeg/preview_sound.h"

#include <SDL.h>

namespace zqr::platform::ffmpeg {

PreviewSound::~PreviewSound() {
  if (device_ != 0) SDL_CloseAudioDevice(device_);
  if (subsystem_) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    // The last user also frees SDL's own state (its hints live until SDL_Quit).
    if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
  }
}

bool PreviewSound::Open(int rate, int channels) {
  if (device_ != 0) return true;
  if (!subsystem_) {
    // The program owns its signal handling; SDL must not install its own.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      SDL_Quit();
      return false;
    }
    subsystem_ = true;
  }
  SDL_AudioSpec want{};
  want.freq = rate > 0 ? rate : 48000;
  want.format = AUDIO_F32SYS;
  want.channels = static_cast<Uint8>(channels >= 2 ? 2 : 1);
  want.samples = 1024;
  want.callback = nullptr;  // fed by SDL_QueueAudio
  SDL_AudioSpec have{};
  device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have,
                                SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
  if (device_ == 0) return false;
  rate_ = have.freq;
  channels_ = have.channels;
  return true;
}

void PreviewSound::Queue(const float* samples, int frames, double max_queued_seconds) {
  if (device_ == 0 || frames <= 0) return;
  const double bytes_per_second = static_cast<double>(rate_) * channels_ * sizeof(float);
  if (static_cast<double>(SDL_GetQueuedAudioSize(device_)) > max_queued_seconds * bytes_per_second)
    return;
  SDL_QueueAudio(device_, samples, static_cast<Uint32>(frames * channels_ * sizeof(float)));
}

void PreviewSound::SetPaused(bool paused) {
  if (device_ != 0) SDL_PauseAudioDevice(device_, paused ? 1 : 0);
}

void PreviewSound::Clear() {
  if (device_ != 0) SDL_ClearQueuedAudio(device_);
}

void PreviewSound::ReleaseThreadState() {
  SDL_TLSCleanup();
}

}  // namespace zqr::platform::ffmpeg
