// The checks of a conversion's output and the cut of a movie's sound to its picture.
#include "convert/output_checks.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
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
#include "platform/path.h"
#include "platform/process.h"
#include "platform/system.h"

namespace zqr {

std::string FolderOf(const std::string& path) {
  std::filesystem::path parent = platform::PathOf(path).parent_path();
  return parent.empty() ? platform::CurrentDirectory() : platform::PathText(parent);
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  if (std::filesystem::equivalent(platform::PathOf(a), platform::PathOf(b), error)) return true;
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
  if (!std::filesystem::is_directory(platform::PathOf(folder), error)) {
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
  if (std::filesystem::is_directory(platform::PathOf(output), error)) {
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

MemoryNeed ConversionMemoryNeed(int32_t width, int32_t height, int64_t movie_width,
                                int64_t movie_height, bool depth_map) {
  // By an 8K clip's runs: the converter's frame arrays, pictures queued and frame files in
  // flight take 62 bytes a pixel of the video, and its mappings a quarter more; the encoder
  // took 248 bytes a pixel of the movie with many threads, under 90 with two, so 96 are
  // counted.
  constexpr uint64_t kConverterBytes = 62;
  // The depth map's stage adds its plane, the depth source's next one and both views.
  constexpr uint64_t kDepthStageBytes = 1 + 1 + 4 + 4;
  constexpr uint64_t kEncoderBytes = 96;
  const auto pixels =
      static_cast<uint64_t>(std::max(width, 0)) * static_cast<uint64_t>(std::max(height, 0));
  const auto movie_pixels = static_cast<uint64_t>(std::max<int64_t>(movie_width, 0)) *
                            static_cast<uint64_t>(std::max<int64_t>(movie_height, 0));
  MemoryNeed need;
  need.converter = pixels * (kConverterBytes + (depth_map ? kDepthStageBytes : 0));
  need.encoder = movie_pixels * kEncoderBytes;
  need.converter_mapped = need.converter + need.converter / 4;
  return need;
}

std::string MemoryProblem(int32_t width, int32_t height, int64_t movie_width, int64_t movie_height,
                          uint64_t available, uint64_t process_limit, bool depth_map) {
  const MemoryNeed need = ConversionMemoryNeed(width, height, movie_width, movie_height, depth_map);
  auto megabytes = [](uint64_t bytes) {
    return NumberText(static_cast<int64_t>((bytes + 999999) / 1000000)) + " MB";
  };
  const std::string frames =
      "The VIDEO's frames are " + NumberText(width) + "x" + NumberText(height) + " pixels: ";
  const std::string advice = ".\r\nPlease close other programs or choose a smaller output size.";
  const uint64_t total = need.converter + need.encoder;
  if (available > 0 && total > available) {
    return frames + "converting them needs about " + megabytes(total) + " of memory, and " +
           megabytes(available) + " are available" + advice;
  }
  // The encoder's own need under such a limit varies with its threads; a tool that runs
  // out says so itself.
  if (process_limit > 0 && need.converter_mapped > process_limit) {
    return frames + "converting them needs about " + megabytes(need.converter_mapped) +
           " of memory in one program, and each may have " + megabytes(process_limit) +
           " (ulimit -v).\r\nPlease raise that limit or convert a smaller video.";
  }
  return std::string();
}

bool CutToPicture(const std::string& movie, double seconds) {
  const std::string container = OutputContainer(movie);
  const std::string cut = movie + ".cut";
  const std::vector<std::string> args = {
      ToolPath("ffmpeg"),  "-v", "error",   "-i", movie, "-map", "0", "-c", "copy", "-t",
      NumberText(seconds), "-f", container, "-y", cut};
  std::error_code error;
  if (container.empty() || !platform::CreateNewFile(cut) ||
      platform::RunArguments(args).exit_code != 0 ||
      std::filesystem::file_size(platform::PathOf(cut), error) == 0) {
    std::filesystem::remove(platform::PathOf(cut), error);
    LogLine("The sound could not be cut to the picture");
    return false;
  }
  std::filesystem::rename(platform::PathOf(cut), platform::PathOf(movie), error);
  return !error;
}

namespace {
// "hh:mm:ss.cc" as seconds; -1 when the text does not begin so.
double HmsSeconds(std::string_view text) {
  const size_t first = text.find(':');
  const size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
  if (second == std::string_view::npos || first == 0) return -1;
  return 3600.0 * LeadingNumber(text.substr(0, first)) +
         60.0 * LeadingNumber(text.substr(first + 1)) + LeadingNumber(text.substr(second + 1));
}
}  // namespace

std::string MovieReportProblem(const std::string& report, int exit_code, bool with_sound,
                               double seconds) {
  std::vector<std::string> lines;
  bool picture = false;
  bool sound = false;
  bool input_part = true;
  size_t begin = 0;
  while (begin < report.size()) {
    size_t end = report.find_first_of("\r\n", begin);
    if (end == std::string::npos) end = report.size();
    std::string line = TrimBlanks(std::string_view(report).substr(begin, end - begin));
    begin = end + 1;
    if (line.empty()) continue;
    if (line.starts_with("Output #")) input_part = false;
    if (input_part && line.starts_with("Stream #")) {
      picture = picture || line.find(": Video:") != std::string::npos;
      sound = sound || line.find(": Audio:") != std::string::npos;
    }
    lines.push_back(std::move(line));
  }
  if (exit_code != 0) {
    return "it cannot be read" + (lines.empty() ? std::string() : " (" + lines.back() + ")");
  }
  if (lines.empty()) return std::string();  // nothing to judge by but the exit status
  if (!picture) return "it holds no picture";
  if (with_sound && !sound) return "it holds no sound";
  const size_t at = report.rfind("time=");
  const double length = at == std::string::npos ? -1 : HmsSeconds(report.substr(at + 5));
  // The picture's last frame and the encoder's rounding may take a little off.
  if (length >= 0 && length < seconds - std::max(0.5, seconds / 20)) {
    return "it lasts " + FormatMask0000(length) + " s of the " + FormatMask0000(seconds) +
           " s recorded";
  }
  // A movie much longer than its recording plays its frames at a wrong rate.
  if (length > seconds + std::max(1.0, seconds / 20)) {
    return "it lasts " + FormatMask0000(length) + " s, longer than the " + FormatMask0000(seconds) +
           " s recorded (its frames play at a wrong rate)";
  }
  return std::string();
}

std::string FinishedMovieProblem(const std::string& movie, bool with_sound, double seconds,
                                 const std::string& report_file) {
  // The tool's report goes to a new file of ours (a file of that name, someone else's,
  // stays as it is); where none can be made the exit status alone is judged.
  platform::Redirections redirections;
  const bool reported = platform::CreateNewFile(report_file);
  redirections.error_path = reported ? report_file : platform::kDiscardPath;
  const platform::ProcessResult run =
      platform::RunArguments({ToolPath("ffmpeg"), "-nostdin", "-hide_banner", "-nostats", "-i",
                              movie, "-map", "0", "-c", "copy", "-f", "null", "-"},
                             redirections);
  std::string report;
  if (reported) {
    std::ifstream file(platform::PathOf(report_file), std::ios::binary);
    char buffer[4096];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
      report.append(buffer, static_cast<size_t>(file.gcount()));
    }
  }
  std::error_code error;
  if (reported) std::filesystem::remove(platform::PathOf(report_file), error);
  if (!run.started) return std::string();  // nothing to judge by
  return MovieReportProblem(report, run.exit_code, with_sound, seconds);
}

}  // namespace zqr
