// zqrstereo --convert with a depth model: the depth written out follows the model's known
// function of the picture (and its inverse when the model gives distance), an exporter's
// graph converts, and a file that is not a model is refused with nothing written.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace zqr {
namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 96;

class DepthModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Grey, so the model's mean of R, G and B is the picture's luma.
    clip_ = dir_.File("clip.mp4");
    ASSERT_TRUE(test::MakeClip(clip_, "testsrc2=size=160x96:rate=25,format=gray", 0.6, "",
                               {"-pix_fmt", "yuv420p"}));
  }
  test::RunResult Batch(std::vector<std::string> args) {
    args.insert(args.begin(),
                {test::BinDir() + "/zqrstereo", "--log", dir_.File("run.log"), "--convert", clip_});
    return test::Run(args);
  }
  static std::string Model(const char* name) {
    return std::string(ZQR_SOURCE_DIR) + "/tests/video/models/" + name;
  }
  static std::string Grey(const std::string& movie) {
    return test::Run({"ffmpeg", "-v", "error", "-i", movie, "-map", "0:v:0", "-f", "rawvideo",
                      "-pix_fmt", "gray", "-"})
        .output;
  }
  // The correlation of the depth with the picture, frame by frame; the smallest.
  static double LeastCorrelation(const std::string& depth, const std::string& picture,
                                 bool inverse) {
    const size_t frame = size_t{kWidth} * kHeight;
    double least = 1.0;
    for (size_t at = 0; at + frame <= std::min(depth.size(), picture.size()); at += frame) {
      double sd = 0, sp = 0, sdd = 0, spp = 0, sdp = 0;
      for (size_t k = at; k < at + frame; ++k) {
        const double d = static_cast<uint8_t>(depth[k]);
        const double p = static_cast<uint8_t>(picture[k]);
        sd += d;
        sp += p;
        sdd += d * d;
        spp += p * p;
        sdp += d * p;
      }
      const double n = static_cast<double>(frame);
      const double r =
          (sdp - sd * sp / n) / std::sqrt((sdd - sd * sd / n) * (spp - sp * sp / n) + 1e-9);
      least = std::min(least, inverse ? -r : r);
    }
    return least;
  }
  test::ScratchDir dir_;
  std::string clip_;
};

TEST_F(DepthModelTest, TheDepthFollowsTheModelsFunctionOfThePicture) {
  struct Case {
    const char* model;
    bool invert;
  };
  const std::string picture = Grey(clip_);
  ASSERT_EQ(picture.size(), size_t{kWidth} * kHeight * 15);
  for (const Case& c : {Case{"follow.onnx", false}, Case{"follow.onnx", true},
                        Case{"exported.onnx", false}, Case{"fixed.onnx", false}}) {
    SCOPED_TRACE(std::string(c.model) + (c.invert ? " inverted" : ""));
    const std::string depth = dir_.File("depth.mkv");
    std::vector<std::string> args = {dir_.File("movie.mkv"),
                                     "--stereo",
                                     "depth-map",
                                     "--depth-model",
                                     Model(c.model),
                                     "--depth-model-every",
                                     "1",
                                     "--depth-out",
                                     depth};
    if (c.invert) args.emplace_back("--depth-model-invert");
    const test::RunResult r = Batch(args);
    ASSERT_EQ(r.exit_code, 0) << r.errors;
    const std::string planes = Grey(depth);
    ASSERT_EQ(planes.size(), picture.size());
    EXPECT_GT(LeastCorrelation(planes, picture, c.invert), 0.85);
  }
  EXPECT_NE(test::ReadFile(dir_.File("run.log")).find("Depth map from the depth model"),
            std::string::npos);
}

TEST_F(DepthModelTest, WhatIsNotAModelIsRefusedWithNothingWritten) {
  const std::string text = dir_.File("notes.onnx");
  ASSERT_TRUE(test::WriteFile(text, "not a model\n"));
  const std::string movie = dir_.File("movie.mp4");
  const std::string out = dir_.File("depth-out.mkv");
  test::RunResult r =
      Batch({movie, "--stereo", "depth-map", "--depth-model", text, "--depth-out", out});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.errors.find(text + " cannot be used: it is not an ONNX model"), std::string::npos)
      << r.errors;
  EXPECT_FALSE(test::FileExists(movie));
  EXPECT_FALSE(test::FileExists(out));
  // A model without the depth-map effect, or beside a depth video, is a command-line mistake.
  r = Batch({movie, "--stereo", "static", "--depth-model", Model("follow.onnx")});
  EXPECT_EQ(r.exit_code, 2);
  r = Batch({movie, "--stereo", "depth-map", "--depth-model", Model("follow.onnx"), "--depth-video",
             clip_});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_FALSE(test::FileExists(movie));
}

}  // namespace
}  // namespace zqr
