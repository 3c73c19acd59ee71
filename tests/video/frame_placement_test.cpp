// Frames placed on the constant-rate grid by their sample times: evenly spaced frames keep
// their arrival numbers, a gap repeats the frame before it, a late start holds the first
// frame, a frame whose slot is taken gets no file; and the output name the save dialog proposes.
#include <gtest/gtest.h>

#include <vector>

#include "app/output_file.h"
#include "video/frame_callback.h"

namespace zqr {
namespace {

constexpr int64_t k15Fps = 666667;  // 100-ns units

std::vector<int32_t> PlaceAll(FramePlacer& placer, const std::vector<double>& times) {
  std::vector<int32_t> numbers;
  for (double t : times) numbers.push_back(placer.Place(t));
  return numbers;
}

TEST(FramePlacer, EvenlySpacedFramesKeepTheirArrivalNumbers) {
  // A real clip starts at 0.04 s, and 29.97 fps times do not fall on whole 100-ns units.
  FramePlacer placer(333667);
  std::vector<double> times;
  for (int k = 0; k < 300; ++k) times.push_back(0.04 + k * 1001.0 / 30000.0);
  const std::vector<int32_t> numbers = PlaceAll(placer, times);
  for (int k = 0; k < 300; ++k) ASSERT_EQ(numbers[static_cast<size_t>(k)], k);
  EXPECT_TRUE(placer.gaps().empty());
  EXPECT_EQ(placer.slots(), 300);
}

TEST(FramePlacer, GapsRepeatTheFrameBeforeAndLateFramesAreDropped) {
  FramePlacer placer(k15Fps);
  // 0, 1/15 s, then nothing until 1 s; then a frame that falls on the slot just taken.
  const std::vector<int32_t> numbers = PlaceAll(placer, {0.5, 0.5 + 1 / 15.0, 1.5, 1.52, 1.6});
  EXPECT_EQ(numbers, (std::vector<int32_t>{0, 1, 15, -1, 16}));
  ASSERT_EQ(placer.gaps().size(), 1u);
  EXPECT_EQ(placer.gaps()[0].source, 1);
  EXPECT_EQ(placer.gaps()[0].first, 2);
  EXPECT_EQ(placer.gaps()[0].count, 13);
  EXPECT_EQ(placer.slots(), 17);
}

// A picture that starts 2 s after its sound keeps its place, its first frame held over
// the lead; an encoder's priming delay of half a second just starts the movie.
TEST(FramePlacer, APictureThatStartsLateIsHeldFromTheStart) {
  FramePlacer late(400000);
  EXPECT_EQ(PlaceAll(late, {2.0, 2.04, 2.08}), (std::vector<int32_t>{50, 51, 52}));
  ASSERT_EQ(late.gaps().size(), 1u);
  EXPECT_EQ(late.gaps()[0].source, 50);
  EXPECT_EQ(late.gaps()[0].first, 0);
  EXPECT_EQ(late.gaps()[0].count, 50);
  EXPECT_EQ(late.slots(), 53);
  FramePlacer primed(400000);
  EXPECT_EQ(PlaceAll(primed, {0.5, 0.54}), (std::vector<int32_t>{0, 1}));
  EXPECT_TRUE(primed.gaps().empty());
}

TEST(FramePlacer, SparseClipLastsAsLongAsItsSound) {
  // 68 frames spread over 29.6 s at 15 fps (the phone clip of the report): the files must
  // cover 29.6 s, not 68 / 15 = 4.5 s.
  FramePlacer placer(k15Fps);
  for (int k = 0; k < 68; ++k) placer.Place(0.04 + k * (29.6 / 68));
  int32_t files = placer.slots();
  EXPECT_NEAR(files / 15.0, 29.6 - 29.6 / 68, 1 / 15.0);
}

TEST(FramePlacer, UnknownTimesOrRateNumberByArrival) {
  FramePlacer no_rate(0);
  EXPECT_EQ(PlaceAll(no_rate, {0.0, 5.0, 1.0}), (std::vector<int32_t>{0, 1, 2}));
  FramePlacer no_times(k15Fps);
  EXPECT_EQ(PlaceAll(no_times, {-1.0, -1.0}), (std::vector<int32_t>{0, 1}));
  // A broken time stamp far ahead is not filled with hours of repeats.
  FramePlacer broken(k15Fps);
  EXPECT_EQ(PlaceAll(broken, {0.0, 1e7, 1e7 + 1 / 15.0}), (std::vector<int32_t>{0, 1, 2}));
  EXPECT_TRUE(broken.gaps().empty());
}

TEST(ProposedOutputName, NameOfTheVideoWithoutFolderAndExtension) {
  EXPECT_EQ(ProposedOutputName("/clips/beach.mov"), "beach_Unwrapped");
  EXPECT_EQ(ProposedOutputName(" /clips/my.holiday.mp4 "), "my.holiday_Unwrapped");
  EXPECT_EQ(ProposedOutputName(""), "_Unwrapped");
}

}  // namespace
}  // namespace zqr
