// The media probe through a one-line batch file and its report.
#include "video/probe.h"

#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>

#include "core/numbers.h"
#include "core/shell_state.h"
#include "core/tool_runner.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/system.h"

namespace zqr {

namespace {

// The name with extension, without its folder; blanks around it stay.
std::string FileNameOf(const std::string& path) {
  size_t separator = path.find_last_of(platform::kPathSeparators);
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

// The batch and report files are the instance's, one of each: two videos probed at once
// take turns with them.
std::mutex probe_files_mutex;

}  // namespace

std::string ProbeCommandLine(const std::string& tool_path, const std::string& video_path,
                             const std::string& report_path) {
  const std::string& video = video_path;
  if (!PathFitsCommandLine(tool_path) || !PathFitsCommandLine(video) ||
      !PathFitsCommandLine(report_path)) {
    return std::string();
  }
  return Quoted(tool_path) + " -i " + Quoted(video) + " 2> " + Quoted(report_path);
}

std::string StreamSummary(std::string_view report_line) {
  size_t colon = report_line.find(':');
  std::string_view rest =
      colon == std::string_view::npos ? std::string_view() : report_line.substr(colon + 1);
  return TrimBlanks(rest);
}

std::string ProbeSummaryText(const std::string& file_name, std::string_view report) {
  // The name's own line breaks (a Linux name may hold them) become blanks: the summary's
  // first line break ends the name.
  std::string name = file_name;
  for (char& c : name) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  std::string text = "VIDEO file: " + name + "\r\n";
  size_t start = 0;
  while (start < report.size()) {
    size_t end = report.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = report.size();
    std::string line = ToLowerAscii(TrimBlanksAndNuls(report.substr(start, end - start)));
    start = end + 1;
    // Only the first two streams, in the tool's numbering with a point, are kept.
    std::string_view head = std::string_view(line).substr(0, 11);
    bool number_ends = line.size() == 11 || line[11] < '0' || line[11] > '9';  // not "#0.10"
    if ((head == "stream #0.0" || head == "stream #0.1") && number_ends) {
      text += "\r\n" + StreamSummary(line);
    }
  }
  return text;
}

std::optional<std::string> ProbeVideo(const std::string& video_path) {
  const std::string& video = video_path;
  if (video.empty()) return std::nullopt;
  std::error_code error;
  // Only a file is described: the tool would wait for ever on a named pipe with no writer.
  if (!std::filesystem::is_regular_file(platform::PathOf(video), error)) return std::nullopt;
  std::lock_guard lock(probe_files_mutex);
  const std::string report_path = InstanceFilePath(kProbeReportName);
  const std::string batch_path = InstanceFilePath(kProbeBatchName);
  // An earlier report must never pass for this video's.
  std::filesystem::remove(platform::PathOf(report_path), error);
  const std::string command = ProbeCommandLine(ToolPath("ffmpeg"), video, report_path);
  if (!command.empty()) {
    // Made new, never through a link or into a file someone left under the name.
    std::filesystem::remove(platform::PathOf(batch_path), error);
    if (platform::WriteNewFile(batch_path, command + "\r\n")) platform::RunBatchFile(batch_path);
    std::filesystem::remove(platform::PathOf(batch_path), error);
  } else {
    // A name no command line can carry (a quote, a line break) goes as an argument of its
    // own.
    platform::Redirections redirections;
    redirections.error_path = report_path;
    redirections.new_files = true;
    platform::RunArguments({ToolPath("ffmpeg"), "-i", video}, redirections);
  }

  std::string report;
  {
    std::ifstream file(platform::PathOf(report_path), std::ios::binary);
    char buffer[4096];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
      report.append(buffer, static_cast<size_t>(file.gcount()));
    }
  }
  std::filesystem::remove(platform::PathOf(report_path), error);
  return ProbeSummaryText(FileNameOf(video_path), report);
}

}  // namespace zqr
