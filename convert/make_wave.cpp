// The sound extraction's tool run.
#include "convert/make_wave.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "core/numbers.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/system.h"

namespace zqr {

namespace {
// Less room than this left in the temporary folder after a failed extraction: it is full.
constexpr uint64_t kFullFolderBytes = 1 << 20;

std::vector<std::string> MessageLines(const std::string& messages) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < messages.size()) {
    size_t end = messages.find_first_of("\r\n", begin);
    if (end == std::string::npos) end = messages.size();
    std::string line = TrimBlanks(std::string_view(messages).substr(begin, end - begin));
    // "[mpegts @ 0x55d0...] " names the tool's part that speaks, nothing the user can use.
    if (line.starts_with('[') && line.find(" @ 0x") != std::string::npos) {
      line = TrimBlanks(std::string_view(line).substr(line.find(']') + 1));
    }
    if (!line.empty()) lines.push_back(std::move(line));
    begin = end + 1;
  }
  return lines;
}

// Whether the tool's messages list a sound stream among its input's.
bool NameSound(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (line.starts_with("Output #") || line.starts_with("Stream mapping")) break;
    if (line.starts_with("Stream #") && line.find(": Audio:") != std::string::npos) return true;
  }
  return false;
}
}  // namespace

std::vector<std::string> SoundArguments(const std::string& tool_path, const std::string& video_path,
                                        const std::string& sound_file, double limit_seconds) {
  std::vector<std::string> args = {tool_path, "-i",  video_path, "-f",      "wav",      "-ar",
                                   "44100",   "-ac", "2",        "-acodec", "pcm_s16le"};
  if (limit_seconds > 0) {
    args.insert(args.end(), {"-t", NumberText(static_cast<int64_t>(std::ceil(limit_seconds)))});
  }
  args.insert(args.end(), {"-y", sound_file});
  return args;
}

SoundExtraction::~SoundExtraction() {
  Stop();
}

bool SoundExtraction::Start(const std::string& tool_path, const std::string& video_path,
                            const std::string& sound_file, const std::string& messages_file,
                            double limit_seconds) {
  std::lock_guard lock(mutex_);
  messages_file_ = messages_file;
  sound_file_ = sound_file;
  if (!platform::CreateNewFile(sound_file)) {
    start_problem_ = "the sound file " + sound_file + " cannot be created";
    return false;
  }
  // The messages file is made new, as the sound file is: never one left there by someone.
  std::error_code error;
  std::filesystem::remove(platform::PathOf(messages_file), error);
  platform::Redirections redirections;
  redirections.error_path = messages_file;
  redirections.new_files = true;
  started_ = tool_.Start(SoundArguments(tool_path, video_path, sound_file, limit_seconds),
                         redirections, false);
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

std::string SoundExtraction::Messages() const {
  if (messages_read_) return messages_;
  std::string text;
  std::ifstream file(platform::PathOf(messages_file_), std::ios::binary);
  char buffer[4096];
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
    text.append(buffer, static_cast<size_t>(file.gcount()));
    // The beginning names the streams, the end the failure; the middle is progress.
    if (text.size() > 65536) text.erase(16384, text.size() - 32768);
  }
  // Kept once the tool has ended: the file may go, or sit on a disk that filled.
  if (waited_) {
    messages_ = text;
    messages_read_ = true;
  }
  return text;
}

std::string SoundExtraction::Reason() const {
  std::lock_guard lock(mutex_);
  if (!start_problem_.empty()) return start_problem_;
  const std::vector<std::string> lines = MessageLines(Messages());
  const std::string folder = platform::PathText(platform::PathOf(sound_file_).parent_path());
  auto naming = [&lines](const char* text) {
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
      if (line->find(text) != std::string::npos) return *line;
    }
    return std::string();
  };
  const std::string full = "the temporary folder " + folder + " is full (No space left on device)";
  if (!naming("No space left on device").empty()) return full;
  // A track the tool finds but cannot decode, in the words the tool said it with.
  for (const char* text : {"Could not find codec parameters", "Decoder (codec",
                           "Error while decoding", "Error while opening decoder"}) {
    if (std::string line = naming(text); !line.empty() && NameSound(lines)) {
      return "the sound track cannot be decoded: " + line;
    }
  }
  // The messages themselves may have found no room on the full disk.
  if (waited_ && exit_code_ != 0 && platform::FreeSpaceBytes(folder) < kFullFolderBytes) {
    return full;
  }
  std::string last;
  for (const std::string& line : lines) {
    if (line != "Conversion failed!") last = line;
  }
  if (last.empty()) return "the tool ended with status " + NumberText(exit_code_);
  return last;
}

bool SoundExtraction::InputHasSound() const {
  std::lock_guard lock(mutex_);
  return NameSound(MessageLines(Messages()));
}

bool WaveHoldsSound(const std::string& path) {
  std::ifstream file(platform::PathOf(path), std::ios::binary);
  char head[512] = {};
  file.read(head, sizeof head);
  const std::string_view header(head, static_cast<size_t>(file.gcount()));
  const size_t data = header.find("data");
  std::error_code error;
  const auto size = std::filesystem::file_size(platform::PathOf(path), error);
  return data != std::string_view::npos && !error && size > data + 8;
}

}  // namespace zqr
