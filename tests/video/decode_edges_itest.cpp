// zqrstereo --convert on inputs at the edges of the decoding: H.264 with B-frames in MPEG
// transport streams, a thousand and more frames a second, colours tagged BT.709 or full
// range or HDR, and inputs that are no video at all. Each run uses a copy of the program,
// so its run log, probe files and temporary folder are the test's own.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

namespace zqr {
namespace {

namespace fs = std::filesystem;

// Frame files are drawn as they were decoded: no filter, no stereo shift.
const std::vector<std::string> kPlainPicture = {"--stereo",     "off", "--sharpen",  "off",
                                                "--brightness", "off", "--contrast", "off",
                                                "--noise",      "off", "--depth",    "off"};

// The top 16 rows carry the frame number as black/white bit blocks of 8 columns.
const char* kNumberedSource =
    "nullsrc=size=64x32:rate=25,format=yuv420p,"
    "geq=lum='if(lt(Y,16),255*mod(floor(N/pow(2,floor(X/8))),2),128)':cb=128:cr=128";

// A frame file's pixels, top row first, as R G B.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  const uint8_t* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

Picture ReadBmp(const std::string& path) {
  Picture picture;
  const std::string bytes = test::ReadFile(path);
  if (bytes.size() < 54) return picture;
  auto number = [&](size_t at, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
  };
  const uint32_t offset = number(10, 4);
  const auto width = static_cast<int32_t>(number(18, 4));
  const auto height = static_cast<int32_t>(number(22, 4));
  const int pixel = static_cast<int>(number(28, 2)) / 8;
  const size_t stride = (static_cast<size_t>(width) * pixel + 3) & ~size_t{3};
  const int rows = std::abs(height);
  if (pixel < 3 || bytes.size() < offset + stride * rows) return picture;
  picture.width = width;
  picture.height = rows;
  picture.rgb.resize(static_cast<size_t>(width) * rows * 3);
  for (int y = 0; y < rows; ++y) {
    const size_t row = offset + stride * (height > 0 ? rows - 1 - y : y);
    for (int x = 0; x < width; ++x) {
      const size_t at = row + static_cast<size_t>(x) * pixel;
      uint8_t* out = &picture.rgb[(static_cast<size_t>(y) * width + x) * 3];
      out[0] = static_cast<uint8_t>(bytes[at + 2]);
      out[1] = static_cast<uint8_t>(bytes[at + 1]);
      out[2] = static_cast<uint8_t>(bytes[at]);
    }
  }
  return picture;
}

// The number of a kNumberedSource frame (the six bit blocks a frame file keeps).
int FrameNumber(const Picture& picture) {
  int number = 0;
  for (int bit = 0; bit < 6; ++bit) {
    if (picture.At(bit * 8 + 4, 4)[1] > 128) number |= 1 << bit;
  }
  return number;
}

class DecodeEdgesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = dir_.File("program");
    fs::create_directories(program_ + "/PLUG-IN");
    fs::copy_file(test::BinDir() + "/zqrstereo", program_ + "/zqrstereo");
    for (const char* tool : {"ffmpeg", "ffmpeg_III"}) {
      fs::create_symlink(test::BinDir() + "/PLUG-IN/" + tool, program_ + "/PLUG-IN/" + tool);
    }
  }
  // A run that has not ended after two minutes is killed (exit code -1), so a run that
  // would wait for ever fails instead of hanging the test.
  test::RunResult Batch(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {program_ + "/zqrstereo", "--convert"};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::Run(argv, [](int pid) {
      const std::string state = "/proc/" + std::to_string(pid) + "/stat";
      for (int round = 0; round < 1200; ++round) {
        std::string stat = test::ReadFile(state);
        const size_t close = stat.rfind(')');
        if (stat.empty() || (close != std::string::npos && stat.substr(close + 2, 1) == "Z"))
          return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      kill(pid, SIGKILL);
    });
  }
  // The frame files of a run with --keep-frames into `folder`, in order.
  static std::vector<std::string> FrameFiles(const std::string& folder) {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with("temp") && name.ends_with(".bmp")) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
  }
  static std::string ColourTags(const std::string& movie) {
    return test::Run({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                      "stream=color_space,color_primaries,color_transfer,color_range", "-of",
                      "default=noprint_wrappers=1", movie})
        .output;
  }

  test::ScratchDir dir_;
  std::string program_;
};

// Camcorder files: H.264 with B-frames in MPEG-TS. With one group of pictures the whole
// clip, or with a key frame each second, every frame is recorded from the first, so the
// picture starts with the sound.
TEST_F(DecodeEdgesTest, TransportStreamsWithBFramesKeepEveryFrameFromTheFirst) {
  for (const char* group : {"1000", "25"}) {
    SCOPED_TRACE(group);
    const std::string clip = dir_.File(std::string("clip") + group + ".m2ts");
    ASSERT_TRUE(test::MakeClip(clip, kNumberedSource, 2.0, "sine=frequency=440:sample_rate=44100",
                               {"-c:v", "libx264", "-qp", "4", "-g", group, "-x264-params",
                                "bframes=3:b-adapt=0", "-c:a", "aac", "-f", "mpegts"}));
    const std::string frames = dir_.File(std::string("frames") + group);
    fs::create_directories(frames);
    std::vector<std::string> args = {clip, dir_.File(std::string("out") + group + ".mp4"),
                                     "--keep-frames", "--temp", frames};
    args.insert(args.end(), kPlainPicture.begin(), kPlainPicture.end());
    const test::RunResult run = Batch(args);
    ASSERT_EQ(run.exit_code, 0) << run.errors;
    const std::vector<std::string> files = FrameFiles(frames);
    ASSERT_EQ(files.size(), 50u);
    for (size_t n = 0; n < files.size(); ++n) {
      EXPECT_EQ(FrameNumber(ReadBmp(files[n])), static_cast<int>(n)) << files[n];
    }
    EXPECT_TRUE(test::ProbeMovie(dir_.File(std::string("out") + group + ".mp4")).sound);
  }
}

// The probe writes whole thousands of frames a second as "1k fps"; the movie still lasts
// as long as the clip.
TEST_F(DecodeEdgesTest, AThousandFramesASecondAreNotOne) {
  for (const int rate : {1000, 2000}) {
    SCOPED_TRACE(rate);
    const std::string clip = dir_.File("fast" + std::to_string(rate) + ".mp4");
    ASSERT_TRUE(test::MakeClip(clip, "testsrc2=size=160x120:rate=" + std::to_string(rate),
                               2000.0 / rate, "", {"-c:v", "libx264", "-pix_fmt", "yuv420p"}));
    const std::string movie = dir_.File("fast" + std::to_string(rate) + "-out.mp4");
    const test::RunResult run = Batch({clip, movie});
    ASSERT_EQ(run.exit_code, 0) << run.errors;
    EXPECT_NEAR(test::ProbeMovie(movie).duration, 2000.0 / rate, 0.1);
  }
}

// BT.709 bars are recorded as ffmpeg itself decodes them (honouring the tags), as are full
// range and untagged clips; the movies say which colours they are made in.
TEST_F(DecodeEdgesTest, TaggedColoursDecodeAsFfmpegDecodesThemAndMoviesAreTagged) {
  struct Clip {
    const char* name;
    const char* source;
    std::vector<std::string> tags;
  };
  const std::vector<Clip> clips = {
      {"bars709.mp4",
       "smptehdbars=size=1920x1080:rate=25",
       {"-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc", "bt709", "-color_range",
        "tv"}},
      {"full709.mkv",
       "smptebars=size=640x480:rate=25",
       {"-colorspace", "bt709", "-color_range", "pc"}},
      {"untagged.mp4", "smptebars=size=640x480:rate=25", {}},
  };
  for (const Clip& clip : clips) {
    SCOPED_TRACE(clip.name);
    const std::string path = dir_.File(clip.name);
    std::vector<std::string> extra = {"-c:v", "libx264", "-pix_fmt", "yuv420p"};
    extra.insert(extra.end(), clip.tags.begin(), clip.tags.end());
    ASSERT_TRUE(test::MakeClip(path, clip.source, 0.2, "", extra));
    const std::string frames = dir_.File(std::string("frames-") + clip.name);
    fs::create_directories(frames);
    const std::string movie = path + "-out.mp4";
    std::vector<std::string> args = {path, movie, "--keep-frames", "--temp", frames};
    args.insert(args.end(), kPlainPicture.begin(), kPlainPicture.end());
    const test::RunResult run = Batch(args);
    ASSERT_EQ(run.exit_code, 0) << run.errors;

    const std::string reference = path + ".rgb";
    ASSERT_EQ(test::Run({"ffmpeg", "-v", "error", "-y", "-i", path, "-frames:v", "1", "-pix_fmt",
                         "rgb24", "-f", "rawvideo", reference})
                  .exit_code,
              0);
    const std::string expected = test::ReadFile(reference);
    const std::vector<std::string> files = FrameFiles(frames);
    ASSERT_FALSE(files.empty());
    const Picture picture = ReadBmp(files[0]);
    // The frame file drops the rightmost 16 columns.
    const int width = static_cast<int>(expected.size() / 3 / picture.height);
    ASSERT_EQ(picture.width, width - 16);
    int worst = 0;
    for (int y = 0; y < picture.height; ++y) {
      for (int x = 0; x < picture.width; ++x) {
        for (int c = 0; c < 3; ++c) {
          const int want =
              static_cast<uint8_t>(expected[(static_cast<size_t>(y) * width + x) * 3 + c]);
          worst = std::max(worst, std::abs(picture.At(x, y)[c] - want));
        }
      }
    }
    EXPECT_LE(worst, 2);

    const std::string tags = ColourTags(movie);
    for (const char* tag : {"color_space=smpte170m", "color_primaries=bt709",
                            "color_transfer=bt709", "color_range=tv"}) {
      EXPECT_NE(tags.find(tag), std::string::npos) << tag << " in " << tags;
    }
  }

  // Every container with colour fields carries the tags.
  const std::string small = dir_.File("small.mp4");
  ASSERT_TRUE(test::MakeClip(small, "testsrc2=size=64x48:rate=25", 0.4, "",
                             {"-c:v", "libx264", "-pix_fmt", "yuv420p"}));
  for (const char* extension : {".mov", ".mkv", ".webm", ".flv", ".avi", ".m4v"}) {
    const std::string movie = dir_.File(std::string("small") + extension);
    const test::RunResult run = Batch({small, movie});
    ASSERT_EQ(run.exit_code, 0) << extension << run.errors;
    const std::string tags = ColourTags(movie);
    EXPECT_NE(tags.find("color_space=smpte170m"), std::string::npos) << extension << tags;
    EXPECT_NE(tags.find("color_range=tv"), std::string::npos) << extension << tags;
  }
}

// HDR would come out washed out as a standard dynamic range movie: it is refused, saying so.
TEST_F(DecodeEdgesTest, HdrVideoIsRefusedWithItsReason) {
  for (const char* transfer : {"smpte2084", "arib-std-b67"}) {
    SCOPED_TRACE(transfer);
    const std::string clip = dir_.File(std::string("hdr-") + transfer + ".mkv");
    ASSERT_TRUE(
        test::MakeClip(clip, "testsrc2=size=64x48:rate=25", 0.4, "",
                       {"-c:v", "libx264", "-pix_fmt", "yuv420p10le", "-color_trc", transfer,
                        "-color_primaries", "bt2020", "-colorspace", "bt2020nc"}));
    const std::string movie = dir_.File("hdr.mp4");
    const test::RunResult run = Batch({clip, movie});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.errors.find("high dynamic range (HDR"), std::string::npos) << run.errors;
    EXPECT_FALSE(fs::exists(movie));
  }
}

// Inputs that are no video say what they are, the same words the window shows; a named
// pipe is never opened, so the run cannot wait for a writer.
TEST_F(DecodeEdgesTest, InputsThatAreNoVideoSayWhatTheyAre) {
  const std::string fifo = dir_.File("pipe.mp4");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_TRUE(test::WriteFile(dir_.File("empty.mp4"), ""));
  ASSERT_TRUE(test::WriteFile(dir_.File("notes.mp4"), "Shopping list:\r\n- film\r\n- batteries\n"));
  const std::string whole = dir_.File("whole.mp4");
  ASSERT_TRUE(test::MakeClip(whole, "testsrc2=size=64x48:rate=25", 2.0, "",
                             {"-c:v", "libx264", "-pix_fmt", "yuv420p"}));
  const std::string bytes = test::ReadFile(whole);
  ASSERT_TRUE(test::WriteFile(dir_.File("unfinished.mp4"), bytes.substr(0, bytes.size() / 2)));
  struct Case {
    std::string input;
    const char* says;
  };
  std::vector<Case> cases = {{fifo, "named pipe (FIFO)"},
                             {dir_.File("empty.mp4"), "the file is empty"},
                             {dir_.File("notes.mp4"), "it holds text"},
                             {dir_.File("unfinished.mp4"), "without its index (no moov box)"}};
  // Permissions do not hold for root.
  if (geteuid() != 0) {
    ASSERT_TRUE(test::WriteFile(dir_.File("locked.mp4"), bytes));
    chmod(dir_.File("locked.mp4").c_str(), 0);
    cases.push_back({dir_.File("locked.mp4"), "no permission to read it"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    const test::RunResult run = Batch({c.input, dir_.File("out.mp4")});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.errors.find(c.says), std::string::npos) << run.errors;
  }
}

}  // namespace
}  // namespace zqr
