#include "tests/support/test_support.h"

#include "core/run_log.h"
#include "core/shell_state.h"
#include "platform/files.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

namespace zqr::test {

std::string BinDir() {
  return ZQR_BIN_DIR;
}

ScratchDir::ScratchDir() {
  // Windows names its temporary folder with a separator at the end.
  std::string parent = std::filesystem::temp_directory_path().string();
  while (parent.size() > 1 && std::string_view(platform::kPathSeparators).find(parent.back()) !=
                                  std::string_view::npos) {
    parent.pop_back();
  }
  path_ = platform::MakeUniqueFolder(parent, "zqrtest.", nullptr);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

ProgramLocationGuard::ProgramLocationGuard()
    : exe_folder_(Shell.ExeFolder),
      exe_name_(Shell.ExeName),
      log_file_(Shell.LogFile),
      settings_file_(Shell.SettingsFile),
      temp_folder_(Shell.TempFolder),
      video_folder_(Shell.VideoFolder),
      fallback_temp_folder_(Shell.FallbackTempFolder),
      tool_folder_(Shell.ToolFolder),
      helper_folder_(Shell.HelperFolder),
      help_document_(Shell.HelpDocument),
      beside_program_(Shell.BesideProgram) {}

ProgramLocationGuard::~ProgramLocationGuard() {
  Shell.ExeFolder = exe_folder_;
  Shell.ExeName = exe_name_;
  Shell.LogFile = log_file_;
  Shell.SettingsFile = settings_file_;
  Shell.TempFolder = temp_folder_;
  Shell.VideoFolder = video_folder_;
  Shell.FallbackTempFolder = fallback_temp_folder_;
  Shell.ToolFolder = tool_folder_;
  Shell.HelperFolder = helper_folder_;
  Shell.HelpDocument = help_document_;
  Shell.BesideProgram = beside_program_;
  SetLogFile(log_file_);
}

RunResult Run(const std::vector<std::string>& argv) {
  return Run(argv, nullptr);
}

std::string CopyProgram(const std::string& folder) {
  std::filesystem::create_directories(folder + "/PLUG-IN");
  std::filesystem::copy_file(BinDir() + "/zqrstereo", folder + "/zqrstereo");
  for (const char* tool : {"ffmpeg", "ffmpeg_III"}) {
    std::filesystem::create_symlink(BinDir() + "/PLUG-IN/" + tool, folder + "/PLUG-IN/" + tool);
  }
  return folder + "/zqrstereo";
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::function<void(int pid)>& meanwhile) {
  std::vector<std::string> argv;
  argv.reserve(args.size() + 1);
  argv.push_back(program);
  argv.insert(argv.end(), args.begin(), args.end());
  return meanwhile ? Run(argv, meanwhile) : Run(argv);
}

bool MakeClip(const std::string& path, const std::string& video_source, double seconds,
              const std::string& audio_source, const std::vector<std::string>& extra) {
  std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-y"};
  if (!video_source.empty()) {
    argv.insert(argv.end(), {"-f", "lavfi", "-i", video_source});
  }
  if (!audio_source.empty()) {
    argv.insert(argv.end(), {"-f", "lavfi", "-i", audio_source});
  }
  std::ostringstream duration;
  duration << seconds;
  argv.insert(argv.end(), {"-t", duration.str()});
  argv.insert(argv.end(), extra.begin(), extra.end());
  argv.push_back(path);
  RunResult r = Run(argv);
  return r.exit_code == 0 && FileExists(path);
}

MovieFigures ProbeMovie(const std::string& path) {
  MovieFigures p;
  const RunResult r =
      Run({"ffprobe", "-v", "error", "-count_frames", "-show_entries",
           "stream=codec_type,width,height,nb_read_frames", "-of", "csv=p=0", path});
  std::istringstream lines(r.output);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("video,", 0) == 0) {
      std::sscanf(line.c_str(), "video,%d,%d,%d", &p.width, &p.height, &p.frames);
    } else if (line.rfind("audio", 0) == 0) {
      p.sound = true;
    }
  }
  const RunResult d =
      Run({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path});
  p.duration = std::atof(d.output.c_str());
  return p;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

int64_t FileSize(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? -1 : static_cast<int64_t>(size);
}

}  // namespace zqr::test
