// zqrstereo --convert with the depth-map effect: the depth written out and read back makes
// the same movie, a depth file's range is read as its tags say, the depth without a file is
// found in the video or is the prior as asked, and a depth file that cannot be used is
// refused with nothing written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace zqr {
namespace {

class DepthMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clip_ = dir_.File("clip.mp4");
    ASSERT_TRUE(test::MakeClip(clip_, "testsrc2=size=96x64:rate=25", 0.6,
                               "sine=frequency=440:sample_rate=44100"));
  }
  test::RunResult Batch(std::vector<std::string> args) {
    args.insert(args.begin(),
                {test::BinDir() + "/zqrstereo", "--log", dir_.File("run.log"), "--convert", clip_});
    return test::Run(args);
  }
  // The decoded frames of a movie's video as one grey or BGRA byte string.
  static std::string Pixels(const std::string& movie, const char* format) {
    return test::Run({"ffmpeg", "-v", "error", "-i", movie, "-map", "0:v:0", "-f", "rawvideo",
                      "-pix_fmt", format, "-"})
        .output;
  }
  test::ScratchDir dir_;
  std::string clip_;
};

TEST_F(DepthMapTest, TheDepthWrittenOutAndReadBackMakesTheSameMovie) {
  // A depth video of another size than the picture: a bright square moving over a ramp.
  const std::string depth = dir_.File("depth.mkv");
  ASSERT_TRUE(test::MakeClip(depth,
                             "gradients=size=48x32:rate=25:c0=black:c1=white:x0=0:y0=0:x1=0:y1=31:"
                             "nb_colors=2,format=gray,drawbox=x=t*20:y=8:w=12:h=12:c=white:t=fill",
                             0.6, "", {"-c:v", "ffv1"}));
  const std::string first = dir_.File("first.mkv");
  const std::string first_depth = dir_.File("first-depth.mkv");
  test::RunResult r = Batch({first, "--stereo", "depth-map", "--layout", "sbs", "--divergence", "6",
                             "--depth-video", depth, "--depth-out", first_depth});
  ASSERT_EQ(r.exit_code, 0) << r.errors;
  const std::string second = dir_.File("second.mkv");
  const std::string second_depth = dir_.File("second-depth.mkv");
  r = Batch({second, "--stereo", "depth-map", "--layout", "sbs", "--divergence", "6",
             "--depth-video", first_depth, "--depth-out", second_depth});
  ASSERT_EQ(r.exit_code, 0) << r.errors;

  const test::MovieFigures movie = test::ProbeMovie(first);
  const test::MovieFigures written = test::ProbeMovie(first_depth);
  EXPECT_EQ(movie.width, 2 * (96 - 16));
  EXPECT_EQ(written.width, 96);  // the picture's size, before the frame file's crop
  EXPECT_EQ(written.height, 64);
  EXPECT_EQ(written.frames, movie.frames);
  const std::string planes = Pixels(first_depth, "gray");
  ASSERT_EQ(planes.size(), size_t{96} * 64 * static_cast<size_t>(written.frames));
  EXPECT_EQ(planes, Pixels(second_depth, "gray"));
  EXPECT_EQ(Pixels(first, "bgra"), Pixels(second, "bgra"));
  // The depth video's levels arrive as they are (full-range grey): black at the top, the
  // moving white square.
  EXPECT_EQ(static_cast<uint8_t>(planes[0]), 0);
  EXPECT_NE(planes.find('\xff'), std::string::npos);

  // The views differ where the depth does: the left and the right half of a frame are not
  // the same picture.
  const std::string frame = Pixels(first, "gray").substr(0, size_t{160} * 64);
  int differing = 0;
  for (size_t row = 0; row < 64; ++row) {
    differing += frame.compare(row * 160, 80, frame, row * 160 + 80, 80) != 0 ? 1 : 0;
  }
  EXPECT_GT(differing, 32);
}

TEST_F(DepthMapTest, DepthFilesAreReadInTheirRangeAndAStillPictureServesEveryFrame) {
  // An untagged 4:2:0 white is limited range (luma 235): the nearest level.
  const std::string white = dir_.File("white.mp4");
  ASSERT_TRUE(
      test::MakeClip(white, "color=c=white:size=96x64:rate=25", 0.2, "", {"-pix_fmt", "yuv420p"}));
  const std::string still = dir_.File("still.png");
  ASSERT_TRUE(test::MakeClip(still, "color=c=0x808080:size=32x32", 0.04, "",
                             {"-frames:v", "1", "-pix_fmt", "gray"}));
  struct Case {
    std::string file;
    char level;
    bool ends_early;  // shorter than the clip: its last frame serves the rest, as the log says
  };
  for (const Case& c : {Case{white, '\xff', true}, Case{still, '\x80', false}}) {
    SCOPED_TRACE(c.file);
    const std::string out = dir_.File("out.mkv");
    const test::RunResult r = Batch({dir_.File("movie.mp4"), "--stereo", "depth-map",
                                     "--depth-video", c.file, "--depth-out", out});
    ASSERT_EQ(r.exit_code, 0) << r.errors;
    const std::string planes = Pixels(out, "gray");
    ASSERT_FALSE(planes.empty());
    EXPECT_EQ(planes.find_first_not_of(c.level), std::string::npos);
    EXPECT_EQ(
        test::ReadFile(dir_.File("run.log")).find("ended after 5 frames") != std::string::npos,
        c.ends_early);
  }
}

TEST_F(DepthMapTest, WithoutADepthFileTheDepthIsFoundInTheVideoUnlessThePriorIsAskedFor) {
  std::string planes[2];
  std::string logs[2];
  const char* sources[] = {"video", "prior"};
  for (int k = 0; k < 2; ++k) {
    const std::string out = dir_.File(std::string(sources[k]) + ".mkv");
    const test::RunResult r = Batch({dir_.File("movie.mp4"), "--stereo", "depth-map",
                                     "--depth-source", sources[k], "--depth-out", out});
    ASSERT_EQ(r.exit_code, 0) << r.errors;
    planes[k] = Pixels(out, "gray");
    logs[k] = test::ReadFile(dir_.File("run.log"));
  }
  EXPECT_NE(logs[0].find("Depth map from the depth found in the video"), std::string::npos)
      << logs[0];
  EXPECT_NE(logs[1].find("Depth map from the vertical prior"), std::string::npos) << logs[1];
  // The prior: every frame a ramp from the farthest level at the top to the nearest at the
  // bottom, whatever the picture shows.
  const size_t frame = size_t{96} * 64;
  ASSERT_EQ(planes[1].size() % frame, 0u);
  ASSERT_GT(planes[1].size(), frame);
  for (size_t at = 0; at < planes[1].size(); at += frame) {
    EXPECT_EQ(static_cast<uint8_t>(planes[1][at]), 0);
    EXPECT_EQ(static_cast<uint8_t>(planes[1][at + frame - 1]), 255);
  }
  EXPECT_EQ(planes[0].size(), planes[1].size());
  EXPECT_NE(planes[0], planes[1]);
}

TEST_F(DepthMapTest, ADepthFileThatCannotBeUsedIsRefusedWithNothingWritten) {
  const std::string text = dir_.File("notes.txt");
  ASSERT_TRUE(test::WriteFile(text, "not a picture\n"));
  const std::string movie = dir_.File("movie.mp4");
  const std::string out = dir_.File("depth-out.mkv");
  test::RunResult r =
      Batch({movie, "--stereo", "depth-map", "--depth-video", text, "--depth-out", out});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.errors.find(text), std::string::npos) << r.errors;
  EXPECT_FALSE(test::FileExists(movie));
  EXPECT_FALSE(test::FileExists(out));
  // A depth file without the depth-map effect is a mistake on the command line.
  r = Batch({movie, "--stereo", "static", "--depth-video", clip_});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_FALSE(test::FileExists(movie));
}

}  // namespace
}  // namespace zqr
