// The composed encoder command lines run through PLUG-IN/ffmpeg_III on a two-second
// sequence of 32-bit frame files and a WAV file; ffprobe checks each output's container,
// frame size, frame rate and sound.
#include <gtest/gtest.h>

#include <ostream>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "convert/encoder_command.h"
#include "convert/temp_files.h"
#include "core/tool_runner.h"
#include "platform/process.h"
#include "tests/support/test_support.h"

namespace zqr {
namespace {

// Frame files as the recording writes them: 304 x 240 (a 320-column video less the 16
// cropped columns), numbered from temp000000.bmp, plus the extracted sound.
class EncoderOutputs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::ScratchDir();
    // "-pix_fmt bgra" makes ffmpeg write 32-bit bitmaps (40-byte header, bottom row first).
    test::RunResult frames = test::Run({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                                        "testsrc2=size=304x240:rate=25", "-t", "2", "-pix_fmt",
                                        "bgra", "-start_number", "0", FramePattern(dir_->path())});
    ok_ = frames.exit_code == 0 && test::FileExists(dir_->File("temp000049.bmp")) &&
          test::MakeClip(SoundFile(dir_->path()), "", 2.0, "sine=frequency=440:sample_rate=48000",
                         {"-ar", "44100", "-ac", "2", "-c:a", "pcm_s16le"});
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(ok_) << "could not make the frame files and the WAV"; }

  static EncoderInputs Inputs(const std::string& name) {
    EncoderInputs in;
    in.output_name = dir_->File(name);
    in.temp_folder = dir_->path();
    in.frame_width = 304;
    in.frame_height = 240;
    in.time_per_frame = 400000;
    in.duration_seconds = 2.0;
    in.tool_path = test::BinDir() + "/PLUG-IN/ffmpeg_III";
    in.sound_usable = SoundFileUsable(SoundFile(dir_->path()));
    return in;
  }

  static test::ScratchDir* dir_;
  static bool ok_;
};

test::ScratchDir* EncoderOutputs::dir_ = nullptr;
bool EncoderOutputs::ok_ = false;

// ffprobe's view of a file: "format_name", "v.width", "a.sample_rate" ...
std::map<std::string, std::string> Probe(const std::string& path) {
  std::map<std::string, std::string> values;
  auto read = [&](const std::vector<std::string>& selection, const std::string& entries,
                  const std::string& prefix) {
    std::vector<std::string> argv = {"ffprobe", "-v", "error"};
    argv.insert(argv.end(), selection.begin(), selection.end());
    argv.insert(argv.end(), {"-show_entries", entries, "-of", "default=noprint_wrappers=1", path});
    std::istringstream lines(test::Run(argv).output);
    std::string line;
    while (std::getline(lines, line)) {
      size_t eq = line.find('=');
      if (eq != std::string::npos) values[prefix + line.substr(0, eq)] = line.substr(eq + 1);
    }
  };
  read({}, "format=format_name", "");
  read({"-select_streams", "v:0"}, "stream=codec_name,width,height,r_frame_rate,pix_fmt", "v.");
  read({"-select_streams", "a:0"}, "stream=codec_name,channels,sample_rate", "a.");
  return values;
}

struct Case {
  const char* name;
  int32_t resize_mode;
  int32_t channels_choice;
  int32_t rate_choice;
  int32_t bitrate_choice;
  int32_t codec_mode;
  int32_t quality;
  int64_t time_per_frame;
  bool with_sound;
  // expected
  const char* format;  // part of ffprobe's format_name
  const char* video_codec;
  const char* size;  // "WxH"
  const char* rate;  // r_frame_rate
  int channels;      // 0: no sound stream
  int sample_rate;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class EncoderOutputsCases : public EncoderOutputs, public ::testing::WithParamInterface<Case> {};

TEST_P(EncoderOutputsCases, ToolWritesTheExpectedMovie) {
  const Case& c = GetParam();
  EncoderInputs in = Inputs(c.name);
  in.resize_mode = c.resize_mode;
  in.audio_channels = c.channels_choice;
  in.sample_rate_choice = c.rate_choice;
  in.bitrate_choice = c.bitrate_choice;
  in.codec_mode_choice = c.codec_mode;
  in.quality = c.quality;
  in.time_per_frame = c.time_per_frame;
  in.sound_usable = in.sound_usable && c.with_sound;
  std::string command = EncoderCommandLine(in);
  ASSERT_FALSE(command.empty());
  ASSERT_TRUE(platform::RunCommandLine(command).started) << command;

  ASSERT_TRUE(test::FileExists(in.output_name)) << command;
  std::map<std::string, std::string> info = Probe(in.output_name);
  EXPECT_NE(info["format_name"].find(c.format), std::string::npos) << info["format_name"];
  EXPECT_EQ(info["v.codec_name"], c.video_codec);
  EXPECT_EQ(info["v.width"] + "x" + info["v.height"], c.size);
  EXPECT_EQ(info["v.r_frame_rate"], c.rate);
  EXPECT_EQ(info["v.pix_fmt"], "yuv420p");
  if (c.channels == 0) {
    EXPECT_EQ(info.count("a.channels"), 0u);
  } else {
    EXPECT_EQ(info["a.channels"], std::to_string(c.channels));
    EXPECT_EQ(info["a.sample_rate"], std::to_string(c.sample_rate));
  }
}

// name, resize, channels, rate, bitrate, codec mode, q, TimePerFrame, sound;
// container, video codec, size, frame rate, channels, sampling rate.
INSTANTIATE_TEST_SUITE_P(
    EveryExtension, EncoderOutputsCases,
    ::testing::Values(
        Case{"a.flv", 0, 0, 0, 0, 0, 0, 400000, true, "flv", "h264", "304x240", "25/1", 2, 44100},
        Case{"b.flv", 1, 1, 1, 4, 1, 7, 0, true, "flv", "h264", "272x214", "30/1", 1, 44100},
        Case{"c.flv", 5, 0, 4, 9, 5, 21, 400000, true, "flv", "h264", "144x114", "25/1", 2, 11025},
        Case{"d.avi", 0, 1, 3, 2, 2, 0, 400000, true, "avi", "h264", "304x240", "25/1", 1, 22050},
        Case{"e.AVI", 3, 0, 1, 0, 4, 1, 0, false, "avi", "h264", "208x164", "30/1", 0, 0},
        Case{"f.mov", 2, 0, 2, 5, 3, 0, 400000, true, "mov", "h264", "240x190", "25/1", 2, 44100},
        Case{"g.mov", 4, 1, 1, 0, 0, 12, 400000, true, "mov", "h264", "176x138", "25/1", 1, 48000},
        Case{"h.mp4", 0, 0, 0, 0, 0, 0, 400000, true, "mp4", "h264", "304x240", "30/1", 2, 44100},
        Case{"i.mp4", 5, 1, 4, 3, 4, 5, 0, true, "mp4", "h264", "144x114", "30/1", 1, 11025},
        Case{"j.m4v", 0, 0, 1, 6, 2, 0, 400000, true, "mp4", "h264", "304x240", "30/1", 2, 48000},
        Case{"k.m4v", 1, 1, 3, 0, 0, 20, 400000, false, "mp4", "h264", "272x214", "30/1", 0, 0},
        Case{"l.ogg", 0, 1, 2, 0, 1, 0, 400000, true, "ogg", "theora", "304x240", "30/1", 1, 44100},
        Case{"m.ogv", 2, 0, 4, 8, 0, 3, 0, true, "ogg", "theora", "240x190", "30/1", 2, 11025},
        Case{"n.webm", 0, 0, 0, 0, 0, 0, 400000, true, "webm", "vp8", "304x240", "30/1", 2, 44100},
        Case{"o.webm", 3, 1, 3, 7, 3, 9, 400000, true, "webm", "vp8", "208x164", "30/1", 1, 22050},
        Case{"p.webm", 4, 0, 1, 1, 5, 0, 0, true, "webm", "vp8", "176x138", "30/1", 2, 48000}),
    [](const ::testing::TestParamInfo<Case>& param_info) {
      std::string name = param_info.param.name;
      for (char& ch : name) {
        if (ch == '.') ch = '_';
      }
      return name;
    });

// The codec-mode and quality options reach the H.264 encoder: x264 writes the settings
// it used into the stream.
TEST_F(EncoderOutputs, CodecModeAndQualityReachTheH264Encoder) {
  struct Check {
    const char* name;
    int32_t codec_mode;
    int32_t quality;
    const char* expected[4];
  };
  const Check checks[] = {
      {"x1.avi", 1, 7, {"cabac=0", "analyse=0x3:0 ", "subme=0", "crf=17.0"}},
      {"x2.flv", 2, 0, {"cabac=0", "analyse=0x3:0x11 ", "subme=3", "crf=22.0"}},
      {"x4.mov", 4, 0, {"ref=16", "analyse=0x3:0x33 ", "subme=8", "qpmax=51"}},
      {"x5.mp4", 5, 4, {"ref=4", "qpmin=10", "qpstep=4", "crf=14.0"}},
  };
  for (const Check& check : checks) {
    EncoderInputs in = Inputs(check.name);
    in.codec_mode_choice = check.codec_mode;
    in.quality = check.quality;
    ASSERT_TRUE(platform::RunCommandLine(EncoderCommandLine(in)).started);
    std::string bytes = test::ReadFile(in.output_name);
    size_t settings = bytes.find("x264 - core");
    ASSERT_NE(settings, std::string::npos) << check.name;
    std::string text = bytes.substr(settings, 2000);
    for (const char* part : check.expected) {
      EXPECT_NE(text.find(part), std::string::npos) << check.name << ": " << part;
    }
  }
}

TEST_F(EncoderOutputs, ToolExitsWithFfmpegsExitCode) {
  test::RunResult bad = test::Run({test::BinDir() + "/PLUG-IN/ffmpeg_III", "-i",
                                   dir_->File("none.bmp"), "-y", dir_->File("none.avi")});
  EXPECT_NE(bad.exit_code, 0);
  EXPECT_NE(bad.errors.find("none.bmp"), std::string::npos) << bad.errors;
  test::RunResult good = test::Run({test::BinDir() + "/PLUG-IN/ffmpeg_III", "-v", "error", "-i",
                                    SoundFile(dir_->path()), "-y", dir_->File("copy.wav")});
  EXPECT_EQ(good.exit_code, 0) << good.errors;
}

}  // namespace
}  // namespace zqr
