// The sound for an encoder started before the sound extraction has ended. The extraction
// still writes the whole sound file (another compression reads it again); the relay follows
// the file as it grows and passes it on through a named pipe the encoder reads instead, so
// the encoder need not wait for the extraction, however long the sound track.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "convert/make_wave.h"
#include "platform/named_pipe.h"

namespace zqr {

class SoundRelay {
 public:
  SoundRelay() = default;
  ~SoundRelay();  // stops
  SoundRelay(const SoundRelay&) = delete;
  SoundRelay& operator=(const SoundRelay&) = delete;

  // Makes the pipe beside `sound_file` and relays the file into it until `extraction` has
  // ended and every byte is passed on, the reader has gone, or Stop. False when the pipe
  // cannot be made; the encoder must then read the finished file.
  bool Start(const std::string& sound_file, const std::string& pipe_file,
             const SoundExtraction& extraction);
  // Ends the relay at once; the pipe's name goes with the relay.
  void Stop();
  bool started() const { return thread_.joinable(); }

 private:
  void Run(const std::string& sound_file, const SoundExtraction& extraction);

  platform::NamedPipeWriter pipe_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace zqr
