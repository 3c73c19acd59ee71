// The media probe: before a video is opened, PLUG-IN/ffmpeg describes it through a
// one-line batch file whose error stream goes into a report file; the lines of the first
// two streams make the summary VideoInfoText.
#pragma once

#include <string>
#include <string_view>

namespace zqr {

// Names of the probe's files in the helper folder (the executable's, or an installed
// program's private one), with the process number added when another instance may be
// using them, see InstanceFileName.
inline constexpr const char* kProbeBatchName = "tempKRun.bat";
inline constexpr const char* kProbeReportName = "metrixVIDEOKRun.txt";

// The summary of the last probe: "VIDEO file: " + name, an empty line, then the stream
// summaries, CR LF between lines. Emptied when the video information is cleared.
std::string VideoInfoText();
void SetVideoInfoText(const std::string& text);

// The batch line: quoted tool path, " -i ", the quoted video, " 2> " and the quoted report
// path; empty when a path cannot stand inside quotes.
std::string ProbeCommandLine(const std::string& tool_path, const std::string& video_path,
                             const std::string& report_path);

// The summary for one report line (already trimmed and lower-cased): everything after
// its first ":", blanks trimmed.
std::string StreamSummary(std::string_view report_line);

// The summary text for a video name and the report's contents.
std::string ProbeSummaryText(const std::string& file_name, std::string_view report);

// Probes `video_path`, taken exactly as given. An empty path, a missing file or anything
// that is not a file (a named pipe, a folder) leaves VideoInfoText unchanged.
void ProbeVideo(const std::string& video_path);

// ProbeVideo on a thread of its own, so that the tool's start-up overlaps the graph's build;
// AwaitProbe returns once its report is in VideoInfoText (at once when none runs).
void StartProbe(const std::string& video_path);
void AwaitProbe();

}  // namespace zqr
