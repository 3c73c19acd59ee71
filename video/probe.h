// The media probe: before a video is opened, PLUG-IN/ffmpeg describes it through a
// one-line batch file whose error stream goes into a report file; the lines of the first
// two streams make the summary that the loaded video keeps (LoadedVideo::probe_text).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zqr {

// Names of the probe's files in the helper folder (the executable's, or an installed
// program's private one), with the process number added when another instance may be
// using them, see InstanceFileName.
inline constexpr const char* kProbeBatchName = "tempKRun.bat";
inline constexpr const char* kProbeReportName = "metrixVIDEOKRun.txt";

// The batch line: quoted tool path, " -i ", the quoted video, " 2> " and the quoted report
// path; empty when a path cannot stand inside quotes.
std::string ProbeCommandLine(const std::string& tool_path, const std::string& video_path,
                             const std::string& report_path);

// The summary for one report line (already trimmed and lower-cased): everything after
// its first ":", blanks trimmed.
std::string StreamSummary(std::string_view report_line);

// The summary text for a video name and the report's contents.
std::string ProbeSummaryText(const std::string& file_name, std::string_view report);

// Probes `video_path`, taken exactly as given: "VIDEO file: " + name, an empty line, then
// the stream summaries, CR LF between lines. Nothing for an empty path, a missing file or
// anything that is not a file (a named pipe, a folder).
std::optional<std::string> ProbeVideo(const std::string& video_path);

}  // namespace zqr
