// The sound extraction's tool run.
#include "convert/make_wave.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "core/numbers.h"
#include "platform/files.h"

namespace zqr {

std::vector<std::string> SoundArguments(const std::string& tool_path, const std::string& video_path,
                                        const std::string& sound_file) {
  return {tool_path, "-i", video_path, "-f",        "wav", "-ar",     "44100",
          "-ac",     "2",  "-acodec",  "pcm_s16le", "-y",  sound_file};
}

SoundExtraction::~SoundExtraction() {
  Stop();
}

bool SoundExtraction::Start(const std::string& tool_path, const std::string& video_path,
                            const std::string& sound_file, const std::string& messages_file) {
  std::lock_guard lock(mutex_);
  messages_file_ = messages_file;
  if (!platform::CreateNewFile(sound_file)) {
    start_problem_ = "the sound file " + sound_file + " cannot be created";
    return false;
  }
  // The messages file is made new, as the sound file is: never one left there by someone.
  std::error_code error;
  std::filesystem::remove(messages_file, error);
  platform::Redirections redirections;
  redirections.error_path = messages_file;
  redirections.new_files = true;
  started_ = tool_.Start(SoundArguments(tool_path, video_path, sound_file), redirections, false);
  if (!started_) start_problem_ = "the tool " + tool_path + " cannot be started";
  return started_;
}

bool SoundExtraction::Running() const {
  std::lock_guard lock(mutex_);
  return started_ && !waited_ && !tool_.Ended();
}

int SoundExtraction::Wait() {
  std::lock_guard lock(mutex_);
  if (started_ && !waited_) {
    exit_code_ = tool_.Wait();
    waited_ = true;
  }
  return exit_code_;
}

void SoundExtraction::Stop() {
  std::lock_guard lock(mutex_);
  if (!started_ || waited_) return;
  tool_.Kill();
  tool_.Wait();
  waited_ = true;
  exit_code_ = -1;
}

std::string SoundExtraction::Reason() const {
  std::lock_guard lock(mutex_);
  if (!start_problem_.empty()) return start_problem_;
  std::ifstream file(messages_file_, std::ios::binary);
  std::string line;
  std::string last;
  while (std::getline(file, line)) {
    const std::string text = TrimBlanks(line.substr(0, line.find_last_not_of('\r') + 1));
    if (!text.empty()) last = text;
  }
  if (last.empty()) return "the tool ended with status " + NumberText(exit_code_);
  return last;
}

}  // namespace zqr
