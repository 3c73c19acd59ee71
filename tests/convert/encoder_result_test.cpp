// How an encoder run and its movie are judged: ffmpeg's words beside its exit status, the
// finished movie's read-through, and the memory a clip's frames take.
#include <gtest/gtest.h>

#include <string>

#include "convert/export.h"
#include "convert/output_checks.h"

namespace zqr {
namespace {

TEST(EncoderResult, ATrailerThatCouldNotBeWrittenSpoilsARunThatEndedWithStatusZero) {
  const std::string full =
      "frame=   75 fps=0.0 q=-1.0 Lsize=     168kB time=00:00:02.96\r"
      "[mp4 @ 0x5581] Error writing trailer of /d/.zqrstereo-1-1.mp4: No space left on device\n"
      "[aac @ 0x5582] Qavg: 854.436\n";
  EXPECT_EQ(EncoderWriteError(full),
            "[mp4 @ 0x5581] Error writing trailer of /d/.zqrstereo-1-1.mp4: No space left on "
            "device");
  EXPECT_EQ(EncoderWriteError("frame=   75 fps=0.0 q=-1.0 Lsize= 168kB\n[aac] Qavg: 854\n"), "");
}

TEST(EncoderResult, AFinishedMovieMustOpenHoldItsStreamsAndLastAsLongAsTheRecording) {
  const std::string whole =
      "Input #0, mov,mp4,m4a,3gp,3g2,mj2, from 'm.mp4':\n"
      "  Duration: 00:00:03.00, start: 0.000000, bitrate: 363 kb/s\n"
      "  Stream #0:0[0x1](und): Video: h264 (High) (avc1 / 0x31637661), yuv420p\n"
      "  Stream #0:1[0x2](und): Audio: aac (LC) (mp4a / 0x6134706D), 44100 Hz, stereo\n"
      "Output #0, null, to 'pipe:':\n"
      "  Stream #0:0(und): Video: h264\n"
      "  Stream #0:1(und): Audio: aac\n"
      "frame=   75 fps=0.0 q=-1.0 Lsize=N/A time=00:00:02.98 bitrate=N/A speed= 983x\n";
  EXPECT_EQ(MovieReportProblem(whole, 0, true, 3.0), "");
  EXPECT_EQ(MovieReportProblem(whole, 0, true, 6.0), "it lasts 02.98 s of the 06.00 s recorded");
  // Frames played at a wrong rate make a movie too long as well.
  std::string stretched = whole;
  stretched.replace(stretched.find("time=00:00:02.98"), 16, "time=00:00:10.00");
  EXPECT_EQ(MovieReportProblem(stretched, 0, true, 3.0),
            "it lasts 10.00 s, longer than the 03.00 s recorded (its frames play at a wrong rate)");
  EXPECT_EQ(MovieReportProblem(stretched, 0, true, 9.5), "");
  EXPECT_EQ(MovieReportProblem(
                "[mov,mp4,m4a,3gp,3g2,mj2 @ 0x55] moov atom not found\nm.mp4: Invalid data "
                "found when processing input\n",
                1, true, 3.0),
            "it cannot be read (m.mp4: Invalid data found when processing input)");
  std::string silent = whole;
  silent.erase(silent.find("  Stream #0:1[0x2]"),
               silent.find("Output #0") - silent.find("  Stream #0:1[0x2]"));
  EXPECT_EQ(MovieReportProblem(silent, 0, true, 3.0), "it holds no sound");
  EXPECT_EQ(MovieReportProblem(silent, 0, false, 3.0), "");
}

TEST(EncoderResult, FramesThatWouldNotFitInMemoryAreRefusedBeforeRecording) {
  constexpr uint64_t kGigabyte = 1000000000;
  // 8K took more than 2 GB in the converter alone and several in the encoder.
  const std::string refused = MemoryProblem(7680, 4320, 7664, 4320, 4 * kGigabyte, 0);
  EXPECT_NE(refused.find("7680x4320"), std::string::npos) << refused;
  EXPECT_NE(refused.find("4000 MB are available"), std::string::npos) << refused;
  EXPECT_EQ(MemoryProblem(1920, 1080, 1904, 1080, 4 * kGigabyte, 0), "");
  EXPECT_EQ(MemoryProblem(7680, 4320, 7664, 4320, 0, 0), "");  // nothing known: no refusal
  const std::string limited = MemoryProblem(7680, 4320, 7664, 4320, 64 * kGigabyte, 2 * kGigabyte);
  EXPECT_NE(limited.find("ulimit -v"), std::string::npos) << limited;
  // The depth map's views and planes count too: 1080p fits in 335 MB without them only.
  EXPECT_EQ(MemoryProblem(1920, 1080, 1904, 1080, 335000000, 0), "");
  EXPECT_NE(MemoryProblem(1920, 1080, 1904, 1080, 335000000, 0, true), "");
}

}  // namespace
}  // namespace zqr
