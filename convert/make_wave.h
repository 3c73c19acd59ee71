// Sound-track extraction ("MakeWave"): PLUG-IN/ffmpeg writes the loaded video's sound as a
// 44100 Hz stereo 16-bit WAV file into the temporary folder while the frames are recorded.
// The tool is started from an argument vector, so any file name reaches it whole.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/process.h"

namespace zqr {

// The tool, "-i", the video exactly as given, the fixed WAV options, "-y" and the file.
// With a limit, "-t" and its whole seconds, rounded up, come before "-y": a sound track
// far longer than the picture is not extracted beyond what the movie can take.
std::vector<std::string> SoundArguments(const std::string& tool_path, const std::string& video_path,
                                        const std::string& sound_file, double limit_seconds = 0);

// One extraction. The sound file is created before the tool starts, so an existing file or
// link of that name is never written through: the start fails instead. Running may be asked
// from another thread (the relay that follows the file) while the owner waits or stops.
class SoundExtraction {
 public:
  SoundExtraction() = default;
  ~SoundExtraction();  // stops a tool still running
  SoundExtraction(const SoundExtraction&) = delete;
  SoundExtraction& operator=(const SoundExtraction&) = delete;

  // The tool's messages go to `messages_file`; read them with Reason().
  bool Start(const std::string& tool_path, const std::string& video_path,
             const std::string& sound_file, const std::string& messages_file,
             double limit_seconds = 0);
  bool Running() const;
  // Waits for the end: the tool's exit status; -1 when it did not start, was stopped or
  // ended by a signal.
  int Wait();
  // Ends the tool at once.
  void Stop();
  // What went wrong, in one line: a full temporary folder, a track that cannot be decoded,
  // the tool's last message, or why it never started.
  std::string Reason() const;
  // Whether the tool found a sound track in the video (by its messages, once it has
  // ended), decodable or not.
  bool InputHasSound() const;

 private:
  mutable std::mutex mutex_;
  platform::ChildProcess tool_;
  bool started_ = false;
  bool waited_ = false;
  int exit_code_ = -1;
  std::string Messages() const;  // the tool's messages, kept once it has ended

  std::string messages_file_;
  std::string sound_file_;
  mutable std::string messages_;
  mutable bool messages_read_ = false;
  std::string start_problem_;
};

// Whether a WAVE file holds sound: its data chunk is there and not empty.
bool WaveHoldsSound(const std::string& path);

}  // namespace zqr
