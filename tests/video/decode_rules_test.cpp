// The frame-rate rule on the probe's abbreviated figures: ffmpeg writes whole thousands of
// frames a second as "1k", which is no rate of one frame a second.
#include <gtest/gtest.h>

#include "video/play_rules.h"

namespace zqr {
namespace {

TEST(FrameRateInThousands, TakesTheGraphsOwnRate) {
  EXPECT_EQ(TimePerFrameFromProbe("video: h264, 160x120, 1k fps, 1k tbr, 16k tbn", 10000), 10000);
  EXPECT_EQ(TimePerFrameFromProbe("video: h264, 160x120, 2k fps, 2k tbr, 16k tbn", 5000), 5000);
  // Without the graph's figure the thousands are read as thousands.
  EXPECT_EQ(TimePerFrameFromProbe("video: h264, 2k fps, 2k tbr, 16k tbn", 0), 5000);
  // Only the figure read is in question: a "k" elsewhere changes nothing.
  EXPECT_EQ(TimePerFrameFromProbe("video: h264, 25 fps, 25 tbr, 90k tbn", 10000), 400000);
}

}  // namespace
}  // namespace zqr
