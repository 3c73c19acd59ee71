#include "tests/support/test_support.h"

#include "core/run_log.h"
#include "core/shell_state.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace zqr::test {

std::string BinDir() {
  return ZQR_BIN_DIR;
}

ScratchDir::ScratchDir() {
  std::string base = std::filesystem::temp_directory_path().string() + "/zqrtest.XXXXXX";
  std::vector<char> buffer(base.begin(), base.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
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

namespace {
std::string Slurp(int fd) {
  std::string out;
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  return out;
}
}  // namespace

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

RunResult Run(const std::vector<std::string>& argv, const std::function<void(int pid)>& meanwhile) {
  RunResult result;
  if (argv.empty()) return result;
  // Output goes to unlinked temporary files, so a chatty program never blocks on a pipe.
  FILE* out_file = tmpfile();
  FILE* err_file = tmpfile();
  if (out_file == nullptr || err_file == nullptr) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fileno(out_file), 1);
  posix_spawn_file_actions_adddup2(&actions, fileno(err_file), 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc == 0) {
    if (meanwhile) meanwhile(pid);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  rewind(out_file);
  rewind(err_file);
  result.output = Slurp(fileno(out_file));
  result.errors = Slurp(fileno(err_file));
  fclose(out_file);
  fclose(err_file);
  return result;
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
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

int64_t FileSize(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

}  // namespace zqr::test
