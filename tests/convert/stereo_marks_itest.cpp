// The post-write stereo marks on movies ffmpeg made in layouts our encoder does not use
// (media data behind the moov, boxes after it), and on files that are not what their
// name says: the pictures decode exactly as before, and a file the edit cannot read is
// left byte for byte.
#include "convert/stereo_marks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frames/layouts.h"
#include "tests/support/test_support.h"

namespace zqr {
namespace {

std::string FramesDigest(const std::string& movie) {
  return test::Run({"ffmpeg", "-v", "error", "-i", movie, "-map", "0", "-f", "framemd5", "-"})
      .output;
}

std::string StreamSideData(const std::string& movie) {
  return test::Run({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_streams", movie})
      .output;
}

TEST(StereoMarks, TheBoxGoesInWithTheMediaDataBeforeOrAfterTheMoov) {
  test::ScratchDir dir;
  const int32_t tab = static_cast<int32_t>(frames::OutputLayout::kTab);
  struct Form {
    const char* name;
    std::vector<std::string> options;
    bool marked;  // fragments are left alone: their data offsets may count from the start
  };
  for (const Form& form :
       std::vector<Form>{{"faststart.mp4", {"-movflags", "+faststart"}, true},
                         {"plain.m4v", {}, true},
                         {"fragments.mov", {"-movflags", "+frag_keyframe"}, false}}) {
    SCOPED_TRACE(form.name);
    const std::string movie = dir.File(form.name);
    std::vector<std::string> args = {
        "ffmpeg",  "-v",    "error", "-f",   "lavfi", "-i", "testsrc2=size=64x96:rate=25",
        "-f",      "lavfi", "-i",    "sine", "-t",    "2",  "-c:v",
        "libx264", "-g",    "10",    "-c:a", "aac"};
    args.insert(args.end(), form.options.begin(), form.options.end());
    args.push_back(movie);
    ASSERT_EQ(test::Run(args).exit_code, 0);
    const std::string before = FramesDigest(movie);
    const std::string bytes = test::ReadFile(movie);
    ASSERT_FALSE(before.empty());

    EXPECT_EQ(MarkStereoViews(movie, true, tab), form.marked);
    EXPECT_TRUE(FramesDigest(movie) == before) << "the pictures or sound changed";
    if (!form.marked) {
      EXPECT_TRUE(test::ReadFile(movie) == bytes);
      continue;
    }
    EXPECT_NE(StreamSideData(movie).find("type=top and bottom"), std::string::npos);
    // A second pass sets the mode of the box it finds.
    EXPECT_TRUE(MarkStereoViews(movie, true, static_cast<int32_t>(frames::OutputLayout::kSbs)));
    EXPECT_NE(StreamSideData(movie).find("type=side by side"), std::string::npos);
    EXPECT_TRUE(FramesDigest(movie) == before) << "the pictures or sound changed";
  }
}

// The StereoMode goes into a Matroska movie far longer than the part of it that is read.
TEST(StereoMarks, ALongMatroskaMovieTakesItsStereoMode) {
  test::ScratchDir dir;
  const std::string movie = dir.File("long.mkv");
  ASSERT_TRUE(test::MakeClip(movie, "nullsrc=size=640x480:rate=25,geq=random(1)*255:128:128", 1,
                             "sine", {"-c:v", "mjpeg", "-q:v", "1"}));
  ASSERT_GT(test::FileSize(movie), 2 << 20);
  const std::string before = FramesDigest(movie);
  EXPECT_TRUE(MarkStereoViews(movie, true, 0));
  EXPECT_NE(StreamSideData(movie).find("TAG:stereo_mode=anaglyph_cyan_red"), std::string::npos);
  EXPECT_TRUE(FramesDigest(movie) == before) << "the pictures or sound changed";
}

TEST(StereoMarks, AFileTheEditCannotReadIsLeftAsItIs) {
  test::ScratchDir dir;
  const std::string text = dir.File("notes.mkv");
  test::WriteFile(text, std::string(5000, 'x'));
  const std::string cut = dir.File("cut.mp4");
  ASSERT_TRUE(test::MakeClip(cut, "testsrc2=size=64x48:rate=25", 1));
  std::string bytes = test::ReadFile(cut);
  bytes.resize(bytes.size() - 100);  // the moov ends short
  test::WriteFile(cut, bytes);

  EXPECT_FALSE(MarkStereoViews(text, true, 0));
  EXPECT_FALSE(MarkStereoViews(cut, true, static_cast<int32_t>(frames::OutputLayout::kHalfSbs)));
  EXPECT_EQ(test::ReadFile(text), std::string(5000, 'x'));
  EXPECT_EQ(test::ReadFile(cut), bytes);
  // Without the stereo effect nothing is touched, whatever the layout.
  EXPECT_TRUE(MarkStereoViews(text, false, 0));
}

}  // namespace
}  // namespace zqr
