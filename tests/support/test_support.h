// Helpers shared by the test programs: a private scratch folder per test, the build's
// program folder, and running outside tools (ffmpeg, ffprobe) from an argument vector.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/system.h"

namespace zqr::test {

// The build folder holding zqrstereo, PLUG-IN/ and TEMP/.
std::string BinDir();

// `name` in `folder` joined as the program joins them, with the system's separator.
inline std::string InFolder(const std::string& folder, const std::string& name) {
  return folder + platform::kPathSeparator + name;
}

// A fresh empty folder under the system's temporary folder, removed with its contents
// when the object goes out of scope.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return InFolder(path_, name); }

 private:
  std::string path_;
};

// Restores the shell's program location (folders, log, settings and working folder) when
// it goes out of scope, for tests that point the program at a scratch folder.
class ProgramLocationGuard {
 public:
  ProgramLocationGuard();
  ~ProgramLocationGuard();
  ProgramLocationGuard(const ProgramLocationGuard&) = delete;
  ProgramLocationGuard& operator=(const ProgramLocationGuard&) = delete;

 private:
  std::string exe_folder_, exe_name_, log_file_, settings_file_, temp_folder_, video_folder_;
  std::string fallback_temp_folder_, tool_folder_, helper_folder_, help_document_;
  bool beside_program_ = true;
};

struct RunResult {
  int exit_code = -1;  // -1 when the program could not be started or was killed
  std::string output;  // standard output
  std::string errors;  // standard error
};

// Runs a program (looked up on PATH) with the given arguments and waits for it.
RunResult Run(const std::vector<std::string>& argv);
// The same, calling `meanwhile` with the program's pid once it has started.
RunResult Run(const std::vector<std::string>& argv, const std::function<void(int pid)>& meanwhile);

// Copies the program into `folder` with its tools linked beside it, so its run log, settings
// and temporary folder are the caller's own. Returns the copy's path.
std::string CopyProgram(const std::string& folder);
// Runs the program at `program` with `args`, as Run does.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::function<void(int pid)>& meanwhile = nullptr);

// Makes a clip with ffmpeg from lavfi sources: `video_filter` such as
// "testsrc2=size=320x240:rate=25" and optionally an audio source such as
// "sine=frequency=440:sample_rate=48000", `seconds` long, extra output options appended.
// Returns true when ffmpeg succeeded and the file exists.
bool MakeClip(const std::string& path, const std::string& video_source, double seconds,
              const std::string& audio_source = "", const std::vector<std::string>& extra = {});

// ffprobe's figures of a movie: the first video stream's size and decoded frame count,
// whether it has sound, and its duration in seconds.
struct MovieFigures {
  int width = 0;
  int height = 0;
  int frames = 0;
  bool sound = false;
  double duration = 0;
};
MovieFigures ProbeMovie(const std::string& path);

std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
int64_t FileSize(const std::string& path);

}  // namespace zqr::test
