// The checks of a conversion's output and the cut of a movie's sound to its picture.
#include "convert/output_checks.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "convert/convert_movie.h"
#include "convert/encoder_command.h"
#include "core/numbers.h"
#include "core/run_log.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "core/tool_runner.h"
#include "frames/yuv420.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/system.h"

namespace zqr {

std::string FolderOf(const std::string& path) {
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? platform::CurrentDirectory() : parent.string();
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  if (std::filesystem::equivalent(a, b, error)) return true;
  return a == b;
}

std::string OutputProblem(const std::string& output) {
  // The name is used whole: cut to a shorter length it would name another file.
  if (output.size() > kMaxOutputNameLength) {
    return "The name of the output file is longer than " +
           NumberText(static_cast<int64_t>(kMaxOutputNameLength)) + " characters:\r\n" + output +
           "\r\nPlease choose a shorter name.";
  }
  if (std::string problem = CheckPathForCommandLine(output); !problem.empty()) return problem;
  const std::string folder = FolderOf(output);
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    return "The folder of the output file does not exist:\r\n" + folder;
  }
  if (!platform::FolderWritable(folder)) {
    return "The folder of the output file cannot be written:\r\n" + folder;
  }
  if (OutputContainer(output).empty()) {
    return "The output file must end in .flv, .avi, .mov, .mp4, .m4v, .ogg, .ogv, .webm or "
           ".mkv:\r\n" +
           output;
  }
  if (std::filesystem::is_directory(output, error)) {
    return "The output file is a folder:\r\n" + output;
  }
  return std::string();
}

// The encoder's pictures are cut to even sizes and the resize makes multiples of 16; each
// must leave at least 2 x 2 pixels.
std::string SizeProblem(int32_t file_width, int32_t height) {
  const frames::Yuv420Size piped = frames::Yuv420SizeFor(file_width, height);
  const FrameSize resized = ResizedFrameSize(Settings.ResizeMode, file_width, height);
  if (piped.width >= 2 && piped.height >= 2 && resized.width >= 2 && resized.height >= 2) {
    return std::string();
  }
  return "The VIDEO is too small to be converted at this size: its frames would be " +
         NumberText(file_width) + "x" + NumberText(height) + " pixels, the movie's " +
         NumberText(resized.width) + "x" + NumberText(resized.height) +
         ".\r\nAt least 2x2 are needed; choose a larger output size.";
}

bool CutToPicture(const std::string& movie, double seconds) {
  const std::string container = OutputContainer(movie);
  const std::string cut = movie + ".cut";
  const std::vector<std::string> args = {
      ToolPath("ffmpeg"),  "-v", "error",   "-i", movie, "-map", "0", "-c", "copy", "-t",
      NumberText(seconds), "-f", container, "-y", cut};
  std::error_code error;
  if (container.empty() || !platform::CreateNewFile(cut) ||
      platform::RunArguments(args).exit_code != 0 || std::filesystem::file_size(cut, error) == 0) {
    std::filesystem::remove(cut, error);
    LogLine("The sound could not be cut to the picture");
    return false;
  }
  std::filesystem::rename(cut, movie, error);
  return !error;
}

}  // namespace zqr
