// The probe's batch line and the summary it makes of a report.
#include <gtest/gtest.h>

#include <string>

#include "platform/process.h"
#include "tools/stream_lines.h"
#include "video/probe.h"

namespace zqr {
namespace {

TEST(ProbeCommandLine, ExactText) {
  EXPECT_EQ(ProbeCommandLine("/App/PLUG-IN/ffmpeg", " /v/my clip.avi ", "/App/metrixVIDEOKRun.txt"),
            "\"/App/PLUG-IN/ffmpeg\" -i \" /v/my clip.avi \" 2> \"/App/metrixVIDEOKRun.txt\"");
  EXPECT_EQ(ProbeCommandLine("/App/PLUG-IN/ffmpeg", "/v/a\"b.avi", "/App/r.txt"), "");
}

TEST(ProbeCommandLine, BatchLineGivesTheToolOnlyTheVideo) {
  platform::BatchCommand batch = platform::ParseBatchLine(
      ProbeCommandLine("/my app/PLUG-IN/ffmpeg", "/v/x 2> y.avi", "/my app/metrixVIDEOKRun.txt"));
  EXPECT_EQ(platform::SplitCommandLine(batch.command_line),
            (std::vector<std::string>{"/my app/PLUG-IN/ffmpeg", "-i", "/v/x 2> y.avi"}));
  EXPECT_EQ(batch.redirections.error_path, "/my app/metrixVIDEOKRun.txt");
}

TEST(StreamSummary, EverythingAfterTheFirstColon) {
  EXPECT_EQ(StreamSummary("stream #0.0(und): video: mpeg4, yuv420p, 640x480, 25 fps"),
            "video: mpeg4, yuv420p, 640x480, 25 fps");
  EXPECT_EQ(StreamSummary("stream #0.1"), "");
}

TEST(ProbeSummaryText, VideoAndAudioStreamsGiveFourLines) {
  std::string report =
      "ffmpeg version x\n"
      "Input #0, avi, from 'clip.avi':\n"
      "  Duration: 00:00:10.00, start: 0.000000, bitrate: 1000 kb/s\n"
      "    Stream #0.0(und): Video: mpeg4, yuv420p, 640x480, 25 fps, 25 tbr, 25 tbn, 25 tbc\n"
      "    Stream #0.1: Audio: MP3, 44100 Hz, stereo, s16, 128 kb/s  \r\n"
      "    Stream #0.2: Audio: ac3, 48000 Hz\n"
      "At least one output file must be specified\n";
  EXPECT_EQ(ProbeSummaryText("clip.avi", report),
            "VIDEO file: clip.avi\r\n\r\n"
            "video: mpeg4, yuv420p, 640x480, 25 fps, 25 tbr, 25 tbn, 25 tbc\r\n"
            "audio: mp3, 44100 hz, stereo, s16, 128 kb/s");
}

TEST(ProbeSummaryText, OnlyTheFirstTwoStreamsByExactNumber) {
  EXPECT_EQ(ProbeSummaryText("a.mpg", "Stream #0.1[0x1e0]: Video: mpeg2video, 720x576\n"),
            "VIDEO file: a.mpg\r\n\r\nvideo: mpeg2video, 720x576");
  EXPECT_EQ(ProbeSummaryText("a.mpg",
                             "Stream #0.10: Audio: x\nStream #0.11: Audio: y\n"
                             "Stream #0.0: Video: v\n"),
            "VIDEO file: a.mpg\r\n\r\nvideo: v");
}

TEST(ProbeSummaryText, TodaysNumberingThroughTheLauncherGivesTheStreams) {
  std::string today =
      "Input #0, mov,mp4: from 'c.mp4':\n"
      "  Stream #0:0[0x1](und): Audio: mp3, 44100 Hz, mono\n"
      "  Stream #0:1[0x2](und): Video: h264 (High), yuv420p, 640x480, 29.97 fps, 29.97 tbr\n"
      "  Stream #0:10: Data: bin_data\n"
      "Stream mapping: #0:1 -> #0:0\n";
  std::string rewritten;
  size_t start = 0;
  while (start < today.size()) {
    size_t end = today.find('\n', start) + 1;
    rewritten += tools::WithPointStreamNumbers(std::string_view(today).substr(start, end - start));
    start = end;
  }
  EXPECT_NE(rewritten.find("  Stream #0.10: Data"), std::string::npos);
  EXPECT_NE(rewritten.find("mapping: #0:1 -> #0:0"), std::string::npos) << "other lines stay";
  EXPECT_EQ(ProbeSummaryText("c.mp4", rewritten),
            "VIDEO file: c.mp4\r\n\r\naudio: mp3, 44100 hz, mono\r\n"
            "video: h264 (high), yuv420p, 640x480, 29.97 fps, 29.97 tbr");
}

TEST(ProbeSummaryText, ColonNumberingAndEmptyReportsGiveTheHeaderOnly) {
  std::string today =
      "  Stream #0:0(und): Video: h264 (High), yuv420p, 320x240, 25 fps\n"
      "  Stream #0:1(und): Audio: aac, 48000 Hz, mono\n";
  EXPECT_EQ(ProbeSummaryText("c.mp4", today), "VIDEO file: c.mp4\r\n");
  EXPECT_EQ(ProbeSummaryText("c.mp4", ""), "VIDEO file: c.mp4\r\n");
  // Blanks and NULs around a line are removed before it is looked at.
  EXPECT_EQ(ProbeSummaryText("c.mp4", std::string("\0\0 Stream #0.0: Video: x  \0", 28)),
            "VIDEO file: c.mp4\r\n\r\nvideo: x");
}

}  // namespace
}  // namespace zqr
