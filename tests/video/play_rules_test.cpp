// The loaded video's figures: frame-rate rule on probe summaries, frame count, frame rate
// and position bar width, with the worked values of the program's documentation.
#include <gtest/gtest.h>

#include "core/numbers.h"
#include "video/play_rules.h"
#include "video/probe.h"

namespace zqr {
namespace {

constexpr const char* kNtscLine =
    "VIDEO file: clip.mp4\r\n\r\nvideo: h264, yuv420p, 1920x1080, 29.97 fps, 29.97 tbr, 1k tbn, "
    "59.94 tbc\r\naudio: aac, 48000 hz, stereo";

TEST(FrameRateRule, TakesTheFigureBeforeTbr) {
  EXPECT_EQ(TimePerFrameFromProbe(kNtscLine, 400000), 333667);
  EXPECT_EQ(TimePerFrameFromProbe("video: mpeg4, 25 fps, 25 tbr, 25 tbn", 0), 400000);
  // The figure read is the one between "fps," and "tbr", not the fps figure itself.
  EXPECT_EQ(TimePerFrameFromProbe("video: h264, 23.98 fps, 50 tbr, 90k tbn", 0), 200000);
}

TEST(FrameRateRule, AFileNameHoldingFpsIsNotTheRate) {
  EXPECT_EQ(TimePerFrameFromProbe("VIDEO file: Drone 60fps, 2.7K.mkv\r\n\r\nvideo: h264, "
                                  "yuv420p, 640x480, 25 fps, 25 tbr, 1k tbn",
                                  0),
            400000);
  EXPECT_EQ(TimePerFrameFromProbe("VIDEO file: Party 30fps, 1080p.mkv\r\n\r\naudio: aac", 333667),
            333667);
  // A name with a line break of its own is one line of the summary all the same.
  EXPECT_EQ(ProbeSummaryText("a\n5 fps, 5 tbr.mkv", "").find("\n5 fps"), std::string::npos);
}

TEST(FrameRateRule, WithoutFpsUsesTheConnectedFormat) {
  EXPECT_EQ(TimePerFrameFromProbe("", 417083), 417083);
  EXPECT_EQ(TimePerFrameFromProbe("video: h264, 1920x1080, 25 tbr", 417083), 417083);
  EXPECT_EQ(TimePerFrameFromProbe("video: h264, 25 fps", 417083), 417083);  // no comma
}

TEST(FrameRateRule, WithoutTbrReadsRightAfterFps) {
  EXPECT_EQ(TimePerFrameFromProbe("video: h264, 30 fps, 50 tbn", 0), 200000);
  EXPECT_EQ(TimePerFrameFromProbe("video: h264, 30 fps,  12.5", 0), 800000);
}

TEST(FrameRateRule, NoUsableRateFallsBackOrGivesZero) {
  EXPECT_EQ(TimePerFrameFromProbe("video: x, 1 fps, n/a tbr", 333667), 333667);
  EXPECT_EQ(TimePerFrameFromProbe("video: x, 1 fps, 0 tbr", 0), 0);
  EXPECT_EQ(TimePerFrameFromProbe("video: x, 1 fps, -25 tbr", 400000), 400000);
  EXPECT_EQ(TimePerFrameFromProbe("", -5), 0);
  // Rates whose frame time is absurd are ignored as an unrecognised rate is.
  EXPECT_EQ(TimePerFrameFromProbe("video: x, 25 fps, 1e-300 tbr", 400000), 400000);
  EXPECT_EQ(TimePerFrameFromProbe("video: x, 25 fps, 1e300 tbr", 400000), 400000);
  EXPECT_EQ(TimePerFrameFromProbe("video: x, 25 fps, 0.0001 tbr", 0), 0);
  EXPECT_EQ(TimePerFrameFromProbe("video: x, 25 fps, 0.5 tbr", 0), 20'000'000);
}

TEST(FrameCount, IsTheFloorOfDurationOverFrameTime) {
  EXPECT_EQ(FrameCount(100'000'000, 333667), 299);  // 299.7 frames in 10 s at 29.97
  EXPECT_EQ(FrameCount(20'000'000, 400000), 50);
  EXPECT_EQ(FrameCount(19'999'999, 400000), 49);
  EXPECT_EQ(FrameCount(0, 400000), 0);
  EXPECT_EQ(FrameCount(20'000'000, 0), 0);
  EXPECT_EQ(FrameCount(int64_t{1} << 62, 1), INT32_MAX);
}

TEST(FrameRate, TextsOfTheWorkedValues) {
  EXPECT_EQ(FormatMask0000(FramesPerSecond(333667)), "29.97");
  EXPECT_EQ(FormatMask0000(FramesPerSecond(400000)), "25.00");
  EXPECT_EQ(FormatMask0000(FramesPerSecond(0)), "00.00");
  EXPECT_EQ(NumberText(SecondsPerFrame(400000)), "0.04");
  EXPECT_EQ(NumberText(SecondsPerFrame(333667)), "0.0333667");
}

TEST(PositionBar, RoundsToNearestEvenWithinItsRange) {
  EXPECT_EQ(PositionBarWidth(0, 1000), 1);
  EXPECT_EQ(PositionBarWidth(500, 1000), 299);
  EXPECT_EQ(PositionBarWidth(1000, 1000), 598);
  EXPECT_EQ(PositionBarWidth(2000, 1000), 598);
  // 598 x 5 / 1196 = 2.5 -> 2; 598 x 7 / 1196 = 3.5 -> 4.
  EXPECT_EQ(PositionBarWidth(5, 1196), 2);
  EXPECT_EQ(PositionBarWidth(7, 1196), 4);
  EXPECT_EQ(PositionBarWidth(123, 0), 1);
  EXPECT_EQ(PositionBarWidth(-50, 1000), 1);
}

}  // namespace
}  // namespace zqr
