// The sound relay's thread: copies what the extraction has written so far, naps briefly
// when it has caught up, and closes the pipe once the extraction has ended and the file is
// passed on whole.
#include "convert/sound_relay.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "platform/system.h"

namespace zqr {

SoundRelay::~SoundRelay() {
  Stop();
}

bool SoundRelay::Start(const std::string& sound_file, const std::string& pipe_file,
                       const SoundExtraction& extraction) {
  if (started() || !pipe_.Create(pipe_file)) return false;
  stop_ = false;
  thread_ = std::thread([this, sound_file, &extraction] { Run(sound_file, extraction); });
  return true;
}

void SoundRelay::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  pipe_.Close();
}

void SoundRelay::Run(const std::string& sound_file, const SoundExtraction& extraction) {
  if (!pipe_.Connect(stop_)) return;
  std::FILE* file = platform::OpenFile(sound_file, "rb");
  std::vector<char> buffer(1 << 16);
  // Nothing goes on before the file begins as a WAVE file does. Under Wine a reader has been
  // seen to find the first bytes still zero while later ones were there; passed on, they
  // made the encoder refuse the whole sound ("invalid start code in RIFF header").
  while (file != nullptr && !stop_.load()) {
    const bool ended = !extraction.Running();
    char head[4] = {};
    const size_t got = std::fread(head, 1, sizeof head, file);
    std::rewind(file);
    if ((got == sizeof head && std::memcmp(head, "RIFF", 4) == 0) || ended) break;
    platform::SleepMs(5);
  }
  while (file != nullptr && !stop_.load()) {
    // Asked before reading: a tool seen ended has written all it will.
    const bool ended = !extraction.Running();
    const size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
    if (got > 0) {
      if (!pipe_.Write(buffer.data(), got, stop_)) break;  // the encoder has stopped reading
      continue;
    }
    if (ended) break;
    std::clearerr(file);
    platform::SleepMs(5);
  }
  if (file != nullptr) std::fclose(file);
  // Passed on whole, the sound must reach the encoder whole before the pipe goes. A stop
  // does not wait: the encoder is being stopped too.
  if (!stop_.load()) pipe_.Drain();
  pipe_.Close();
}

}  // namespace zqr
