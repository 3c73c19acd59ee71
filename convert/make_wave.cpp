// The sound-extraction thread.
#include "convert/make_wave.h"

#include "app/numbers.h"
#include "app/shell_state.h"
#include "convert/convert_state.h"
#include "convert/temp_files.h"
#include "convert/tool_runner.h"
#include "platform/process.h"
#include "platform/system.h"

namespace zqr {

std::string SoundCommandLine(const std::string& tool_path, const std::string& video_path,
                             const std::string& sound_file) {
  const std::string input = TrimBlanks(video_path);
  if (!PathFitsCommandLine(tool_path) || !PathFitsCommandLine(input) ||
      !PathFitsCommandLine(sound_file)) {
    return std::string();
  }
  // The tool path stands unquoted; the runner finds the program even in a folder with
  // blanks by trying the longer blank-separated prefixes.
  return tool_path + " " + "-i " + "\"" + input + "\"" +
         " -f wav -ar 44100 -ac 2 -acodec pcm_s16le -y " + "\"" + sound_file + "\"";
}

namespace {
std::string CurrentSoundCommandLine() {
  return SoundCommandLine(ToolPath("ffmpeg"), CurrentVideo(),
                          SoundFile(TrimBlanks(Shell.TempFolder)));
}
void RunSoundCommand(const std::string& command) {
  if (!command.empty()) RunToolHidden(command);
}
}  // namespace

void MakeWave(int32_t /*unused*/) {
  RunSoundCommand(CurrentSoundCommandLine());
}

bool StartMakeWave(const std::string& temp_folder) {
  Conversion.SoundExitCode = -1;
  Conversion.SoundRunning = 1;
  const std::string command =
      SoundCommandLine(ToolPath("ffmpeg"), CurrentVideo(), SoundFile(TrimBlanks(temp_folder)));
  const bool started = platform::StartDetachedThread([command] {
    Conversion.SoundExitCode = RunToolForStatus(command, platform::kDiscardPath);
    Conversion.SoundRunning = 0;
  });
  if (!started) Conversion.SoundRunning = 0;
  return started;
}

bool StartMakeWave() {
  // The command is composed on the caller's thread, so the worker reads no shared string
  // that the window could be replacing.
  return platform::StartDetachedThread(
      [command = CurrentSoundCommandLine()] { RunSoundCommand(command); });
}

}  // namespace zqr
