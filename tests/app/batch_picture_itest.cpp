// zqrstereo --convert keeps the picture as the video shows it: its colours to within two
// levels and tagged as they were decoded, the shape of pixels that are not square in every
// layout, the length of a video faster than any movie plays, and whole frames of an
// interlaced one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace zqr {
namespace {

class BatchPictureTest : public ::testing::Test {
 protected:
  test::RunResult Batch(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {test::BinDir() + "/zqrstereo", "--log", dir_.File("run.log")};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::Run(argv);
  }
  // ffprobe's value of `entry` for the first video stream ("sample_aspect_ratio", ...).
  static std::string StreamEntry(const std::string& movie, const std::string& entry) {
    const test::RunResult r =
        test::Run({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                   "stream=" + entry, "-of", "default=nw=1:nk=1", movie});
    std::string value = r.output;
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
    return value;
  }
  // Frame 10 of `movie` as RGB, converted exactly.
  std::string Rgb(const std::string& movie, const std::string& name) {
    const std::string raw = dir_.File(name + ".rgb");
    test::Run({"ffmpeg", "-v", "error", "-i", movie, "-vf", "select=eq(n\\,10)", "-frames:v", "1",
               "-sws_flags", "accurate_rnd+full_chroma_int+bitexact", "-f", "rawvideo", "-pix_fmt",
               "rgb24", "-y", raw});
    return test::ReadFile(raw);
  }
  test::ScratchDir dir_;
};

// The largest difference of a channel between the uniform 8x8 patches of `in` (within one
// level) and the middle of the same patches in `out`; `out` lacks the last 16 columns.
double WorstPatch(const std::string& in, int in_width, const std::string& out, int out_width,
                  int height, int* patches) {
  constexpr int kSide = 8;
  double worst = 0;
  *patches = 0;
  auto at = [](const std::string& rgb, int width, int x, int y, int c) {
    return static_cast<unsigned char>(rgb[(static_cast<size_t>(y) * width + x) * 3 + c]);
  };
  for (int by = 0; by + kSide <= height; by += kSide) {
    for (int bx = 0; bx + kSide <= out_width; bx += kSide) {
      bool uniform = true;
      double in_mean[3] = {0, 0, 0};
      for (int c = 0; c < 3; ++c) {
        int low = 255, high = 0;
        for (int y = by; y < by + kSide; ++y) {
          for (int x = bx; x < bx + kSide; ++x) {
            low = std::min(low, static_cast<int>(at(in, in_width, x, y, c)));
            high = std::max(high, static_cast<int>(at(in, in_width, x, y, c)));
            in_mean[c] += at(in, in_width, x, y, c);
          }
        }
        uniform = uniform && high - low <= 1;
        in_mean[c] /= kSide * kSide;
      }
      if (!uniform) continue;
      ++*patches;
      for (int c = 0; c < 3; ++c) {
        double out_mean = 0;
        for (int y = by + 2; y < by + kSide - 2; ++y) {
          for (int x = bx + 2; x < bx + kSide - 2; ++x) out_mean += at(out, out_width, x, y, c);
        }
        out_mean /= (kSide - 4) * (kSide - 4);
        worst = std::max(worst, std::fabs(out_mean - in_mean[c]));
      }
    }
  }
  return worst;
}

// Colour bars in the studio range, tagged BT.709 in HD and untagged in SD (BT.601), kept
// whole by a lossless encoding.
TEST_F(BatchPictureTest, StudioRangeColoursStayWithinTwoLevelsAndAreTaggedAsDecoded) {
  struct Case {
    const char* source;
    int width;
    int height;
    std::vector<std::string> tags;
    const char* primaries;
    const char* transfer;
  } cases[] = {
      {"smptehdbars",
       1280,
       720,
       {"-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc", "bt709"},
       "bt709",
       "bt709"},
      {"smptebars", 720, 576, {}, "bt470bg", "smpte170m"},
      {"smptebars", 640, 480, {}, "smpte170m", "smpte170m"},
  };
  for (const Case& c : cases) {
    const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
    SCOPED_TRACE(size);
    const std::string clip = dir_.File("bars" + size + ".mp4");
    std::vector<std::string> extra = {"-c:v",     "libx264", "-qp",          "0",
                                      "-pix_fmt", "yuv420p", "-color_range", "tv"};
    extra.insert(extra.end(), c.tags.begin(), c.tags.end());
    ASSERT_TRUE(
        test::MakeClip(clip, std::string(c.source) + "=size=" + size + ":rate=25", 1, "", extra));
    const std::string movie = dir_.File("bars" + size + "_out.mp4");
    const test::RunResult r =
        Batch({"--convert", clip, movie, "--stereo", "off", "--quality", "1"});
    ASSERT_EQ(r.exit_code, 0) << r.errors;
    const std::string in = Rgb(clip, "in" + size);
    const std::string out = Rgb(movie, "out" + size);
    const int out_width = c.width - 16;
    ASSERT_EQ(in.size(), static_cast<size_t>(c.width) * c.height * 3);
    ASSERT_EQ(out.size(), static_cast<size_t>(out_width) * c.height * 3);
    int patches = 0;
    EXPECT_LE(WorstPatch(in, c.width, out, out_width, c.height, &patches), 2.0);
    EXPECT_GT(patches, 1000);
    EXPECT_EQ(StreamEntry(movie, "color_space"), "smpte170m");
    EXPECT_EQ(StreamEntry(movie, "color_primaries"), c.primaries);
    EXPECT_EQ(StreamEntry(movie, "color_transfer"), c.transfer);
  }
}

// 720x576 at 64:45, a 16:9 picture: each layout keeps its pixels' shape, so side by side
// shows twice as wide and top and bottom twice as high, and the half layouts as the video.
TEST_F(BatchPictureTest, AnamorphicVideoKeepsItsShapeInEveryLayout) {
  const std::string clip = dir_.File("wide.mp4");
  ASSERT_TRUE(test::MakeClip(clip, "testsrc2=size=720x576:rate=25,setsar=64/45", 1, "",
                             {"-c:v", "libx264", "-pix_fmt", "yuv420p"}));
  struct Case {
    const char* layout;
    const char* output;
    int width;
    int height;
  } cases[] = {
      {"anaglyph", "a.mp4", 704, 576}, {"sbs", "s.mp4", 1408, 576},
      {"half-sbs", "h.mov", 704, 576}, {"tab", "t.avi", 704, 1152},
      {"anaglyph", "a.flv", 704, 576},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    const std::string movie = dir_.File(c.output);
    const test::RunResult r =
        Batch({"--convert", clip, movie, "--stereo", "dynamic", "--layout", c.layout});
    ASSERT_EQ(r.exit_code, 0) << r.errors;
    const test::MovieFigures p = test::ProbeMovie(movie);
    EXPECT_EQ(p.width, c.width);
    EXPECT_EQ(p.height, c.height);
    EXPECT_EQ(StreamEntry(movie, "sample_aspect_ratio"), "64:45");
  }
  // Resized, the picture keeps its aspect: 352x288 of the same pixels.
  const std::string half = dir_.File("half.mp4");
  ASSERT_EQ(Batch({"--convert", clip, half, "--stereo", "off", "--resize", "50"}).exit_code, 0);
  EXPECT_EQ(StreamEntry(half, "display_aspect_ratio"), "704:405");
}

// A high-speed camera's 2000 frames a second: 3 s of video makes 3 s of movie, each frame at
// its own time.
TEST_F(BatchPictureTest, AVideoFasterThanAnyMoviePlaysKeepsItsLength) {
  const std::string clip = dir_.File("fast.mp4");
  ASSERT_TRUE(test::MakeClip(clip, "testsrc2=size=160x120:rate=2000", 3,
                             "sine=frequency=440:sample_rate=44100",
                             {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"}));
  for (const char* name : {"fast.mkv", "fast.avi", "fast.flv"}) {
    SCOPED_TRACE(name);
    const std::string movie = dir_.File(name);
    const test::RunResult r = Batch({"--convert", clip, movie, "--stereo", "off"});
    ASSERT_EQ(r.exit_code, 0) << r.errors;
    const test::MovieFigures p = test::ProbeMovie(movie);
    EXPECT_NEAR(p.duration, 3.0, 0.2);
    EXPECT_LE(p.frames, 3 * 240 + 1);
    // AVI keeps no times of its own; the others must not give two frames one time.
    if (std::string(name) == "fast.avi") continue;
    const std::string times =
        test::Run({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                   "packet=pts_time", "-of", "csv=p=0", movie})
            .output;
    std::istringstream lines(times);
    std::set<std::string> seen;
    int repeated = 0;
    for (std::string line; std::getline(lines, line);) {
      if (!seen.insert(line).second) ++repeated;
    }
    EXPECT_EQ(repeated, 0);
    EXPECT_GT(seen.size(), 700u);
  }
}

// How much each line differs from the mean of its neighbours, on average over the luma of
// frame 10: two fields of a moving picture woven together make it large.
double Combing(const std::string& movie, const std::string& raw) {
  test::Run({"ffmpeg", "-v", "error", "-i", movie, "-vf", "select=eq(n\\,10)", "-frames:v", "1",
             "-f", "rawvideo", "-pix_fmt", "gray", "-y", raw});
  const std::string luma = test::ReadFile(raw);
  const int width = test::ProbeMovie(movie).width;
  if (width <= 0 || luma.size() < static_cast<size_t>(width) * 3) return -1;
  const int height = static_cast<int>(luma.size() / width);
  auto at = [&](int x, int y) {
    return static_cast<int>(static_cast<unsigned char>(luma[static_cast<size_t>(y) * width + x]));
  };
  double sum = 0;
  for (int y = 1; y + 1 < height; ++y) {
    for (int x = 0; x < width; ++x) sum += std::abs(2 * at(x, y) - at(x, y - 1) - at(x, y + 1));
  }
  return sum / (static_cast<double>(width) * (height - 2));
}

// An interlaced MPEG-2 clip (top field first, made of 50 pictures a second) comes out whole;
// with --deinterlace off it keeps its fields, and a progressive clip is left as it is.
TEST_F(BatchPictureTest, InterlacedVideoIsDeinterlacedUnlessTheFieldsAreKept) {
  struct Case {
    const char* name;
    std::vector<std::string> extra;
    bool interlaced;
  } cases[] = {
      {"fields.mpg",
       {"-vf", "tinterlace=mode=interleave_top,setfield=tff", "-c:v", "mpeg2video", "-flags",
        "+ilme+ildct", "-top", "1", "-b:v", "8M"},
       true},
      {"frames.mpg", {"-c:v", "mpeg2video", "-b:v", "8M"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string clip = dir_.File(c.name);
    ASSERT_TRUE(test::MakeClip(clip, "testsrc2=size=720x576:rate=50", 2, "", c.extra));
    const std::string whole = clip + "-auto.mp4";
    const std::string kept = clip + "-off.mp4";
    ASSERT_EQ(Batch({"--convert", clip, whole, "--stereo", "off", "--quality", "1"}).exit_code, 0);
    ASSERT_EQ(Batch({"--convert", clip, kept, "--stereo", "off", "--quality", "1", "--deinterlace",
                     "off"})
                  .exit_code,
              0);
    const double combed = Combing(kept, clip + "-off.y");
    const double deinterlaced = Combing(whole, clip + "-auto.y");
    ASSERT_GT(combed, 0);
    if (c.interlaced) {
      EXPECT_LT(deinterlaced, combed * 0.6) << combed;
    } else {
      EXPECT_NEAR(deinterlaced, combed, combed * 0.02);
    }
  }
}

}  // namespace
}  // namespace zqr
