// zqrstereo --convert in each output layout: the movie's size, what it tells players of
// its views (Matroska's stereo mode, H.264's frame-packing message, the MP4's st3d box),
// the name it takes in a folder, and full colour on request.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace zqr {
namespace {

class LayoutsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clip_ = dir_.File("clip.mp4");
    ASSERT_TRUE(test::MakeClip(clip_, "testsrc2=size=64x48:rate=30", 0.5,
                               "sine=frequency=440:sample_rate=44100"));
  }
  test::RunResult Batch(std::vector<std::string> args) {
    args.insert(args.begin(), {test::BinDir() + "/zqrstereo", "--log", dir_.File("run.log")});
    return test::Run(args);
  }
  // ffprobe's view of the movie's first video stream and first frame, as key=value lines.
  static std::string Probe(const std::string& movie) {
    return test::Run({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_streams",
                      "-show_frames", "-read_intervals", "%+#1", movie})
        .output;
  }
  test::ScratchDir dir_;
  std::string clip_;
};

TEST_F(LayoutsTest, EveryLayoutHasItsSizeAndTheViewLayoutsSaySo) {
  struct Case {
    const char* layout;
    const char* output;
    int width;
    int height;
    std::vector<const char*> probed;  // what ffprobe must show
  };
  // The file frame of a 64-wide clip is 48 wide; each view of a full layout is that whole.
  const std::vector<Case> cases = {
      {"anaglyph", "a.mp4", 48, 48, {}},
      {"dubois", "d.mp4", 48, 48, {}},
      {"grey", "g.mp4", 48, 48, {}},
      // Matroska's stereo mode shows as the stream's tag and side data; H.264's message
      // as each frame's side data and tag.
      {"sbs", "s.mkv", 96, 48, {"TAG:stereo_mode=left_right", "type=side by side"}},
      {"half-sbs", "h.mp4", 48, 48, {"Stereo 3D", "stereo_mode=left_right"}},
      {"tab", "t.mov", 48, 96, {"Stereo 3D", "stereo_mode=top_bottom"}},
      {"half-tab", "v.mkv", 48, 48, {"TAG:stereo_mode=top_bottom", "type=top and bottom"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.layout);
    const test::RunResult r = Batch(
        {"--convert", clip_, dir_.File(c.output), "--stereo", "dynamic", "--layout", c.layout});
    ASSERT_EQ(r.exit_code, 0) << r.errors;
    const test::MovieFigures figures = test::ProbeMovie(dir_.File(c.output));
    EXPECT_EQ(figures.width, c.width);
    EXPECT_EQ(figures.height, c.height);
    EXPECT_TRUE(figures.sound);
    const std::string probed = Probe(dir_.File(c.output));
    for (const char* text : c.probed) EXPECT_NE(probed.find(text), std::string::npos) << text;
    if (c.probed.empty()) {
      EXPECT_EQ(probed.find("Stereo 3D"), std::string::npos) << probed;
    }
  }
}

TEST_F(LayoutsTest, AFolderAsOutputTakesTheProposedNameAndFullColourIsKept) {
  const test::RunResult named = Batch({"--convert", clip_, dir_.path(), "--stereo", "static",
                                       "--layout", "half-sbs", "--chroma", "444"});
  ASSERT_EQ(named.exit_code, 0) << named.errors;
  const std::string movie = dir_.File("clip_Unwrapped_LR_Half_SBS-lrh.mp4");
  ASSERT_TRUE(test::FileExists(movie)) << named.output;
  EXPECT_NE(Probe(movie).find("pix_fmt=yuv444p"), std::string::npos);
  // Run again, the name the program proposes is taken: the next free one is used, numbered
  // before the layout's suffix, and the first movie stays as it was.
  const uintmax_t first_size = std::filesystem::file_size(movie);
  ASSERT_TRUE(test::WriteFile(dir_.File("clip_Unwrapped (2)_LR_Half_SBS-lrh.mp4"), "mine"));
  const test::RunResult again =
      Batch({"--convert", clip_, dir_.path(), "--stereo", "static", "--layout", "half-sbs"});
  ASSERT_EQ(again.exit_code, 0) << again.errors;
  EXPECT_EQ(std::filesystem::file_size(movie), first_size);
  EXPECT_EQ(test::ReadFile(dir_.File("clip_Unwrapped (2)_LR_Half_SBS-lrh.mp4")), "mine");
  EXPECT_GT(test::ProbeMovie(dir_.File("clip_Unwrapped (3)_LR_Half_SBS-lrh.mp4")).width, 0);
}

// Players learn the layout from the name the program proposes, from the MP4's st3d box
// (the stream's side data, apart from H.264's per-frame message) and from the MKV's
// StereoMode, the anaglyphs' included.
TEST_F(LayoutsTest, PlayersAreToldTheLayoutByNameBoxAndStereoMode) {
  struct Named {
    const char* layout;
    const char* name;
    const char* type;
  };
  for (const Named& n : std::vector<Named>{
           {"sbs", "clip_Unwrapped_LRF_Full_SBS-lr.mp4", "type=side by side"},
           {"half-sbs", "clip_Unwrapped_LR_Half_SBS-lrh.mp4", "type=side by side"},
           {"tab", "clip_Unwrapped_TBF_Full_TB-tb.mp4", "type=top and bottom"},
           {"half-tab", "clip_Unwrapped_TB_Half_OU-tbh.mp4", "type=top and bottom"}}) {
    SCOPED_TRACE(n.layout);
    const std::string folder = dir_.File(n.layout);
    std::filesystem::create_directory(folder);
    const test::RunResult r =
        Batch({"--convert", clip_, folder, "--stereo", "static", "--layout", n.layout});
    ASSERT_EQ(r.exit_code, 0) << r.errors;
    const std::string movie = folder + "/" + n.name;
    ASSERT_TRUE(test::FileExists(movie)) << r.output;
    const std::string stream =
        test::Run({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_streams", movie})
            .output;
    EXPECT_NE(stream.find("side_data_type=Stereo 3D"), std::string::npos) << stream;
    EXPECT_NE(stream.find(n.type), std::string::npos) << stream;
  }
  for (const auto& [layout, mode] :
       std::vector<std::pair<const char*, const char*>>{{"anaglyph", "anaglyph_cyan_red"},
                                                        {"dubois", "anaglyph_cyan_red"},
                                                        {"half-colour", "anaglyph_cyan_red"},
                                                        {"grey", "anaglyph_cyan_red"},
                                                        {"half-sbs", "left_right"},
                                                        {"tab", "top_bottom"}}) {
    SCOPED_TRACE(layout);
    const std::string movie = dir_.File(std::string(layout) + ".mkv");
    const test::RunResult r =
        Batch({"--convert", clip_, movie, "--stereo", "dynamic", "--layout", layout});
    ASSERT_EQ(r.exit_code, 0) << r.errors;
    EXPECT_NE(Probe(movie).find(std::string("TAG:stereo_mode=") + mode), std::string::npos);
    EXPECT_TRUE(test::ProbeMovie(movie).sound);
  }
  // WebM keeps Matroska's StereoMode for the layouts that show both views.
  const std::string webm = dir_.File("tab.webm");
  const test::RunResult r =
      Batch({"--convert", clip_, webm, "--stereo", "static", "--layout", "half-tab"});
  ASSERT_EQ(r.exit_code, 0) << r.errors;
  EXPECT_NE(Probe(webm).find("TAG:stereo_mode=top_bottom"), std::string::npos) << Probe(webm);
}

// Without the stereo effect there are no views to lay out: the movie is a plain one, and
// the run says why.
TEST_F(LayoutsTest, ALayoutWithoutTheStereoEffectIsToldAndThePictureKeepsItsSize) {
  const std::string movie = dir_.File("p.mkv");
  const test::RunResult r =
      Batch({"--convert", clip_, movie, "--stereo", "off", "--layout", "sbs"});
  ASSERT_EQ(r.exit_code, 0) << r.errors;
  EXPECT_NE(r.errors.find("the layout sbs needs the stereo effect (--stereo depth-map,"),
            std::string::npos)
      << r.errors;
  EXPECT_EQ(test::ProbeMovie(movie).width, 48);
  EXPECT_EQ(Probe(movie).find("stereo_mode"), std::string::npos);
}

}  // namespace
}  // namespace zqr
