// zqrstereo --convert on inputs at the edges of the decoding: H.264 with B-frames in MPEG
// transport streams, a thousand and more frames a second, colours tagged BT.709 or full
// range, and inputs that cannot be converted (HDR, or no video at all). Each run uses a copy of the
// program, so its run log, probe files and temporary folder are the test's own.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
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

// A frame file: 32-bit pixels (B, G, R, X) after a 54-byte header, bottom row first.
struct FrameFile {
  explicit FrameFile(const std::string& path) : bytes(test::ReadFile(path)) {
    if (bytes.size() > 54) {
      std::memcpy(&width, &bytes[18], 4);
      std::memcpy(&height, &bytes[22], 4);
    }
  }
  // The pixel in column x of row y from the top.
  const uint8_t* At(int x, int y) const {
    return reinterpret_cast<const uint8_t*>(bytes.data()) + 54 +
           (static_cast<size_t>(height - 1 - y) * width + x) * 4;
  }
  std::string bytes;
  int32_t width = 0;
  int32_t height = 0;
};

// The number of a kNumberedSource frame (the six bit blocks a frame file keeps).
int FrameNumber(const FrameFile& frame) {
  int number = 0;
  for (int bit = 0; bit < 6; ++bit) {
    if (frame.At(bit * 8 + 4, 4)[1] > 128) number |= 1 << bit;
  }
  return number;
}

class DecodeEdgesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = dir_.File("program");
    test::CopyProgram(program_);
  }
  // A run that would wait for ever is killed after two minutes and fails.
  test::RunResult Batch(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"timeout",  "-s", "KILL", "120", program_ + "/zqrstereo",
                                     "--convert"};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::Run(argv);
  }
  // The frame files of a run with --keep-frames into `folder` (the run works in a folder of
  // its own inside it), in order.
  static std::vector<std::string> FrameFiles(const std::string& folder) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
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
      EXPECT_EQ(FrameNumber(FrameFile(files[n])), static_cast<int>(n)) << files[n];
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

// BT.709 bars, and a full-range clip, are recorded as ffmpeg itself decodes them exactly
// (honouring the tags); the movies, in every container with a place for it, say which colours they
// are made in.
TEST_F(DecodeEdgesTest, TaggedColoursDecodeAsFfmpegDecodesThemAndMoviesAreTagged) {
  const std::vector<std::vector<std::string>> clips = {
      {"bars709.mp4", "smptehdbars=size=1920x1080:rate=25", "-colorspace", "bt709",
       "-color_primaries", "bt709", "-color_trc", "bt709", "-color_range", "tv"},
      {"full709.mkv", "smptebars=size=640x480:rate=25", "-colorspace", "bt709", "-color_range",
       "pc"}};
  for (const std::vector<std::string>& clip : clips) {
    SCOPED_TRACE(clip[0]);
    const std::string path = dir_.File(clip[0]);
    std::vector<std::string> extra = {"-c:v", "libx264", "-pix_fmt", "yuv420p"};
    extra.insert(extra.end(), clip.begin() + 2, clip.end());
    ASSERT_TRUE(test::MakeClip(path, clip[1], 0.2, "", extra));
    const std::string frames = path + "-frames";
    fs::create_directories(frames);
    std::vector<std::string> args = {path, path + ".mp4", "--keep-frames", "--temp", frames};
    args.insert(args.end(), kPlainPicture.begin(), kPlainPicture.end());
    const test::RunResult run = Batch(args);
    ASSERT_EQ(run.exit_code, 0) << run.errors;

    // ffmpeg's own exact conversion: its fast one is up to three levels off.
    ASSERT_EQ(test::Run({"ffmpeg", "-v", "error", "-i", path, "-frames:v", "1", "-sws_flags",
                         "bicubic+accurate_rnd+full_chroma_int", "-pix_fmt", "rgb24", "-f",
                         "rawvideo", path + ".rgb"})
                  .exit_code,
              0);
    const std::string expected = test::ReadFile(path + ".rgb");
    const FrameFile frame(FrameFiles(frames).at(0));
    // The frame file drops the rightmost 16 columns.
    const int width = frame.width + 16;
    ASSERT_EQ(expected.size(), static_cast<size_t>(width) * frame.height * 3);
    int worst = 0;
    for (int y = 0; y < frame.height; ++y) {
      for (int x = 0; x < frame.width; ++x) {
        const auto* want = reinterpret_cast<const uint8_t*>(&expected[(y * width + x) * 3]);
        for (int c = 0; c < 3; ++c)
          worst = std::max(worst, std::abs(frame.At(x, y)[2 - c] - want[c]));
      }
    }
    EXPECT_LE(worst, 2);
    EXPECT_EQ(ColourTags(path + ".mp4"),
              "color_range=tv\ncolor_space=smpte170m\ncolor_transfer=bt709\n"
              "color_primaries=bt709\n");
  }
  for (const char* extension : {".mov", ".mkv", ".webm", ".flv", ".avi", ".m4v"}) {
    const std::string movie = dir_.File(std::string("out") + extension);
    const test::RunResult run = Batch({dir_.File("full709.mkv"), movie});
    ASSERT_EQ(run.exit_code, 0) << extension << run.errors;
    EXPECT_NE(ColourTags(movie).find("color_space=smpte170m"), std::string::npos) << extension;
  }
}

// Inputs that cannot be converted say why, in the words the window shows: no video at all,
// or HDR, which would come out washed out in a standard dynamic range movie. A named pipe
// is never opened, so the run cannot wait for a writer.
TEST_F(DecodeEdgesTest, InputsThatCannotBeConvertedSayWhy) {
  const std::string fifo = dir_.File("pipe.mp4");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_TRUE(test::WriteFile(dir_.File("empty.mp4"), ""));
  ASSERT_TRUE(test::WriteFile(dir_.File("notes.mp4"), "Shopping list:\r\n- film\r\n- batteries\n"));
  const std::string whole = dir_.File("whole.mp4");
  ASSERT_TRUE(test::MakeClip(whole, "testsrc2=size=64x48:rate=25", 2.0, "",
                             {"-c:v", "libx264", "-pix_fmt", "yuv420p"}));
  const std::string bytes = test::ReadFile(whole);
  ASSERT_TRUE(test::WriteFile(dir_.File("unfinished.mp4"), bytes.substr(0, bytes.size() / 2)));
  ASSERT_TRUE(
      test::MakeClip(dir_.File("hdr.mkv"), "testsrc2=size=64x48:rate=25", 0.4, "",
                     {"-c:v", "libx264", "-pix_fmt", "yuv420p10le", "-color_trc", "smpte2084",
                      "-color_primaries", "bt2020", "-colorspace", "bt2020nc"}));
  struct Case {
    std::string input;
    const char* says;
  };
  std::vector<Case> cases = {{fifo, "named pipe (FIFO)"},
                             {dir_.File("empty.mp4"), "the file is empty"},
                             {dir_.File("notes.mp4"), "it holds text"},
                             {dir_.File("unfinished.mp4"), "without its index (no moov box)"},
                             {dir_.File("hdr.mkv"), "high dynamic range (HDR, PQ)"}};
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
    EXPECT_FALSE(fs::exists(dir_.File("out.mp4")));
  }
}

}  // namespace
}  // namespace zqr
