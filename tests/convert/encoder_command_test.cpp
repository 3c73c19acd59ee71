// The encoder command line: every fragment, blank and table row, and the refusal of
// file names that cannot be quoted.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/window_observer.h"
#include "convert/convert_state.h"
#include "convert/encoder_command.h"
#include "convert/export.h"
#include "convert/temp_files.h"
#include "core/run_log.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "core/tool_runner.h"
#include "platform/process.h"
#include "platform/system.h"
#include "tests/support/test_support.h"

namespace zqr {
namespace {

EncoderInputs WorkedExample() {
  EncoderInputs in;
  in.output_name = "/Out/a.flv";
  in.temp_folder = "/App/TEMP";
  in.frame_width = 640;
  in.frame_height = 480;
  in.time_per_frame = 400000;
  in.duration_seconds = 90.0;
  in.tool_path = "/App/PLUG-IN/ffmpeg_III";
  in.sound_usable = true;
  return in;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(EncoderCommandLine, WorkedExampleIsExact) {
  EXPECT_EQ(EncoderCommandLine(WorkedExample()),
            "\"/App/PLUG-IN/ffmpeg_III\"  -r 25.00 -i \"" +
                test::InFolder("/App/TEMP", "temp%06d.bmp") + "\" -i \"" +
                test::InFolder("/App/TEMP", "temp.wav") +
                "\" -ac 2  -ar 44100  -vcodec libx264 -acodec mp3  "
                "-t 00:01:30 -crf 22 -qscale 15 -f flv  -y \"/Out/a.flv\"");
}

TEST(EncoderCommandLine, ContainerFormsWithDefaultQuality) {
  EncoderInputs in = WorkedExample();
  in.sound_usable = false;
  const std::string head = "\"/App/PLUG-IN/ffmpeg_III\"  -r 25.00 -i \"" +
                           test::InFolder("/App/TEMP", "temp%06d.bmp") + "\"  ";
  struct Row {
    const char* name;
    const char* rest;
  };
  const Row rows[] = {
      {"/o/a.mov", " -vcodec libx264 -acodec mp3  -t 00:01:30 -crf 22 -qscale 15 -f mov "},
      {"/o/a.avi", " -vcodec libx264 -acodec pcm_s16le  -t 00:01:30 -crf 22 -qscale 15 -f avi "},
      {"/o/a.mp4", " -r 30  -t 00:01:30 -sameq -qscale 15 -f mp4 "},
      {"/o/a.m4v", " -r 30  -t 00:01:30 -sameq -qscale 15 -f m4v "},
      {"/o/a.ogg", " -r 30  -t 00:01:30 -sameq -qscale 15 -f ogg "},
      {"/o/a.ogv", " -r 30  -t 00:01:30 -sameq -qscale 15 -f ogg "},
      {"/o/a.webm", " -r 30  -t 00:01:30 -sameq -qscale 15 -f webm "},
  };
  for (const Row& row : rows) {
    in.output_name = row.name;
    EXPECT_EQ(EncoderCommandLine(in), head + row.rest + " -y \"" + std::string(row.name) + "\"")
        << row.name;
  }
}

TEST(EncoderCommandLine, QualityGivesCrfPlusTenOrQscale) {
  EncoderInputs in = WorkedExample();
  in.quality = 7;
  for (const char* name : {"/o/a.flv", "/o/a.mov", "/o/a.avi"}) {
    in.output_name = name;
    std::string command = EncoderCommandLine(in);
    EXPECT_TRUE(Contains(command, " -t 00:01:30 -crf 17 -f ")) << command;
    EXPECT_FALSE(Contains(command, "-qscale")) << command;
  }
  for (const char* name : {"/o/a.mp4", "/o/a.m4v", "/o/a.ogg", "/o/a.webm"}) {
    in.output_name = name;
    std::string command = EncoderCommandLine(in);
    EXPECT_TRUE(Contains(command, " -t 00:01:30 -qscale 7 -f ")) << command;
    EXPECT_FALSE(Contains(command, "-sameq")) << command;
    EXPECT_FALSE(Contains(command, "-crf")) << command;
  }
  in.quality = 21;
  in.output_name = "/o/a.avi";
  EXPECT_TRUE(Contains(EncoderCommandLine(in), " -crf 31 -f avi  -y "));
}

TEST(EncoderCommandLine, UnknownExtensionGivesNoCommand) {
  EncoderInputs in = WorkedExample();
  for (const char* name :
       {"/o/a.mpg", "/o/a", "/o/a.flv.txt", "/o.flv/a", "/o/a.fl", "/o/a.flv "}) {
    in.output_name = name;
    EXPECT_EQ(EncoderCommandLine(in), "") << name;
  }
}

TEST(EncoderCommandLine, ExtensionInCapitalsCountsAsLowerCase) {
  EncoderInputs in = WorkedExample();
  in.output_name = "/o/A.FLV";
  std::string command = EncoderCommandLine(in);
  EXPECT_TRUE(Contains(command, " -f flv  -y \"/o/A.FLV\"")) << command;
  EXPECT_EQ(OutputExtension("/o/A.FLV"), ".flv");
  EXPECT_EQ(OutputExtension("/o/a.tar.WebM"), ".webm");
  EXPECT_EQ(OutputExtension("/o.d/a"), "");
  EXPECT_EQ(OutputExtension("noext"), "");
}

TEST(EncoderCommandLine, ResizeModeZeroHasNoSizeOption) {
  EncoderInputs in = WorkedExample();
  EXPECT_FALSE(Contains(EncoderCommandLine(in), " -s "));
  in.resize_mode = 1;
  EXPECT_TRUE(Contains(EncoderCommandLine(in), " -t 00:01:30 -s 560x420  -crf 22"));
}

TEST(ResizedFrameSize, SinglePrecisionFactors) {
  // 0.9f and 0.7f lie below their decimal values, 0.8f and 0.6f above.
  EXPECT_EQ(ResizedFrameSize(1, 640, 480).width, 560);
  EXPECT_EQ(ResizedFrameSize(2, 640, 480).width, 512);
  EXPECT_EQ(ResizedFrameSize(3, 640, 480).width, 432);
  EXPECT_EQ(ResizedFrameSize(4, 640, 480).width, 384);
  EXPECT_EQ(ResizedFrameSize(5, 640, 480).width, 320);
  EXPECT_EQ(ResizedFrameSize(1, 640, 480).height, 420);  // the width's shape, to the even row
  EXPECT_EQ(ResizedFrameSize(3, 640, 480).height, 324);
  EXPECT_EQ(ResizedFrameSize(5, 304, 240).width, 144);
  EXPECT_EQ(ResizedFrameSize(5, 304, 240).height, 114);
  EXPECT_EQ(ResizedFrameSize(0, 304, 240).width, 304);
  // 0.6f * 1280 = 768.0000114..., exactly a multiple of 16 above.
  EXPECT_EQ(ResizedFrameSize(4, 1280, 720).width, 768);
  EXPECT_EQ(ResizedFrameSize(4, 1280, 720).height, 432);
}

TEST(EncoderCommandLine, ChannelAndSampleRateFragments) {
  EncoderInputs in = WorkedExample();
  in.output_name = "/o/a.mp4";
  const char* expected[] = {" -ar 44100 ", " -ar 48000 ", " -ar 44100 ", " -ar 22050 ",
                            " -ar 11025 "};
  for (int32_t choice = 0; choice < 5; ++choice) {
    in.sample_rate_choice = choice;
    EXPECT_TRUE(Contains(EncoderCommandLine(in),
                         "temp.wav\" -ac 2 " + std::string(expected[choice]) + " -r 30 "))
        << choice;
  }
  in.sample_rate_choice = 1;
  in.output_name = "/o/a.flv";
  EXPECT_TRUE(Contains(EncoderCommandLine(in), " -ac 2  -ar 44100  -vcodec"));
  in.audio_channels = 1;
  EXPECT_TRUE(Contains(EncoderCommandLine(in), "temp.wav\" -ac 1  -ar 44100  -vcodec"));
}

TEST(EncoderCommandLine, NoSoundFileLeavesOneBlank) {
  EncoderInputs in = WorkedExample();
  in.sound_usable = false;
  std::string command = EncoderCommandLine(in);
  EXPECT_TRUE(Contains(command, "temp%06d.bmp\"   -vcodec libx264")) << command;
  EXPECT_FALSE(Contains(command, "temp.wav"));
  EXPECT_FALSE(Contains(command, "-ac "));
  EXPECT_FALSE(Contains(command, "-ar "));
}

TEST(EncoderCommandLine, InputRate) {
  EncoderInputs in = WorkedExample();
  in.time_per_frame = 0;
  EXPECT_TRUE(Contains(EncoderCommandLine(in), "ffmpeg_III\"  -r 30 -i "));
  in.time_per_frame = 333667;
  EXPECT_TRUE(Contains(EncoderCommandLine(in), "ffmpeg_III\"  -r 29.97 -i "));
  in.time_per_frame = 2000000;
  EXPECT_TRUE(Contains(EncoderCommandLine(in), "ffmpeg_III\"  -r 05.00 -i "));
}

TEST(EncoderCommandLine, DurationIsWholeSecondsRoundedUpSoNoFrameIsCut) {
  EncoderInputs in = WorkedExample();
  in.duration_seconds = 3725.1;
  EXPECT_TRUE(Contains(EncoderCommandLine(in), " -t 01:02:06 -crf"));
  in.duration_seconds = 3725.0;
  EXPECT_TRUE(Contains(EncoderCommandLine(in), " -t 01:02:05 -crf"));
}

TEST(EncoderCommandLine, BitrateFragments) {
  EncoderInputs in = WorkedExample();
  const char* expected[] = {"",           " -b 500k ",  " -b 700k ",  " -b 900k ",  " -b 1200k ",
                            " -b 1500k ", " -b 2000k ", " -b 3000k ", " -b 4000k ", " -b 5000k "};
  for (int32_t choice = 0; choice < 10; ++choice) {
    in.bitrate_choice = choice;
    EXPECT_TRUE(Contains(EncoderCommandLine(in),
                         " -t 00:01:30" + std::string(expected[choice]) + " -crf 22"))
        << choice;
  }
  in.bitrate_choice = 10;
  EXPECT_TRUE(Contains(EncoderCommandLine(in), " -t 00:01:30 -crf 22"));
}

TEST(EncoderCommandLine, CodecModeFragments) {
  EncoderInputs in = WorkedExample();
  in.bitrate_choice = 1;
  in.resize_mode = 5;
  const std::string a1 =
      " -threads 0 -coder 0 -flags +loop -cmp +chroma -partitions "
      "-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8  -subq 0 -me_range 16 ";
  const std::string a2 =
      " -threads 0 -coder 0 -flags +loop -cmp +chroma -partitions "
      "-parti8x8+parti4x4+partp8x8-partp4x4-partb8x8  -subq 3 -me_range 16 ";
  const std::string a3 =
      " -threads 0 -coder 1 -flags +loop -cmp +chroma -partitions "
      "-parti8x8+parti4x4+partp8x8+partp4x4-partb8x8  -subq 5 -me_range 16 ";
  const std::string a4 =
      " -threads 0 -coder 1 -flags +loop -cmp +chroma -partitions "
      "+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8  -subq 8 ";
  const std::string common =
      "-g 250 -keyint_min 25 -sc_threshold 40 -i_qfactor 0.71 -b_strategy 1 -qcomp 0.6 "
      "-qmin 10 -qmax 51 -qdiff 4 ";
  const std::string fragments[] = {
      "",
      a1 + " " + common,
      a2 + " " + common,
      a3 + " " + common,
      a4 + " -me_range 16 " + common + "-refs 16 ",
      a4 + " -me_range 16 " + common + "-refs 4 ",
  };
  for (int32_t choice = 0; choice < 6; ++choice) {
    in.codec_mode_choice = choice;
    EXPECT_TRUE(Contains(EncoderCommandLine(in),
                         " -t 00:01:30 -b 500k " + fragments[choice] + " -s 320x240  -crf 22"))
        << choice;
  }
}

TEST(EncoderCommandLine, PathsAreTakenExactlyInsideTheirQuotes) {
  EncoderInputs in = WorkedExample();
  in.output_name = " /o/a b.flv";
  in.temp_folder = "/t m p ";
  std::string command = EncoderCommandLine(in);
  EXPECT_TRUE(Contains(command, "-i \"" + test::InFolder("/t m p ", "temp%06d.bmp") + "\" -i \"" +
                                    test::InFolder("/t m p ", "temp.wav") + "\""))
      << command;
  EXPECT_TRUE(Contains(command, " -y \" /o/a b.flv\"")) << command;
  // The tool receives each path as one argument.
  std::vector<std::string> args = platform::SplitCommandLine(command);
  ASSERT_FALSE(args.empty());
  EXPECT_EQ(args.back(), " /o/a b.flv");
  EXPECT_EQ(args[4], test::InFolder("/t m p ", "temp%06d.bmp"));
  // A "%" of the folder's name is not taken for the pattern's number.
  in.temp_folder = "/t/100%";
  EXPECT_TRUE(
      Contains(EncoderCommandLine(in), "-i \"" + test::InFolder("/t/100%%", "temp%06d.bmp") + "\""))
      << command;
}

TEST(CheckPathForCommandLine, RefusesNamesThatBreakTheQuoting) {
  EXPECT_EQ(CheckPathForCommandLine("/v/my clip.avi"), "");
  EXPECT_EQ(CheckPathForCommandLine("/v/back\\slash.avi"), "");
  std::string quote = CheckPathForCommandLine("/v/a\" -y \"/etc/x.avi");
  EXPECT_TRUE(Contains(quote, "double quote")) << quote;
  EXPECT_TRUE(Contains(quote, "/v/a\" -y \"/etc/x.avi")) << quote;
  EXPECT_TRUE(Contains(CheckPathForCommandLine("/v/a\nb.avi"), "line break"));
  EXPECT_TRUE(Contains(CheckPathForCommandLine("/v/ab.avi\\  "), "backslash"));
}

TEST(EncoderCommandLine, NameWithADoubleQuoteComposesNothing) {
  EncoderInputs in = WorkedExample();
  in.output_name = "/o/x\" -y \"/home/victim.flv";
  EXPECT_EQ(EncoderCommandLine(in), "");
  in = WorkedExample();
  in.temp_folder = "/t\"mp";
  EXPECT_EQ(EncoderCommandLine(in), "");
}

TEST(EncoderCommandLine, LayoutsAndFullColourAddTheirFragmentsOnlyWhereChosen) {
  EncoderInputs in = WorkedExample();
  const std::string anaglyph = EncoderCommandLine(in);
  in.layout = 0;
  in.chroma444 = false;
  EXPECT_EQ(EncoderCommandLine(in), anaglyph);  // older command lines stay as they were
  struct Case {
    const char* output;
    int32_t layout;
    const char* present;
    const char* absent;
  } cases[] = {
      {"/o/a.mkv", 4, " -metadata:s:v:0 stereo_mode=left_right  -x264-params frame-packing=3 ",
       nullptr},
      {"/o/a.mkv", 7, " -metadata:s:v:0 stereo_mode=top_bottom  -x264-params frame-packing=4 ",
       nullptr},
      {"/o/a.mp4", 5, " -x264-params frame-packing=3 ", "stereo_mode"},
      {"/o/a.mov", 6, " -x264-params frame-packing=4 ", "stereo_mode"},
      {"/o/a.flv", 4, " -f flv ", "frame-packing"},
      {"/o/a.mkv", 1, " -f matroska ", "frame-packing"},
  };
  for (const Case& c : cases) {
    in.output_name = c.output;
    in.layout = c.layout;
    const std::string command = EncoderCommandLine(in);
    EXPECT_TRUE(Contains(command, c.present)) << command;
    if (c.absent != nullptr) {
      EXPECT_FALSE(Contains(command, c.absent)) << command;
    }
  }

  // 4:4:4 where H.264 takes it, its piped pictures whole 32-bit frames.
  in.layout = 0;
  in.chroma444 = true;
  in.frames_from_pipe = true;
  in.frame_width = 641;
  in.output_name = "/o/a.mp4";
  std::string command = EncoderCommandLine(in);
  EXPECT_TRUE(Contains(command, "-f rawvideo -pix_fmt bgra -s 641x480 -i pipe:0")) << command;
  EXPECT_TRUE(Contains(command, " -pix_fmt yuv444p  -f mp4 ")) << command;
  in.output_name = "/o/a.webm";
  command = EncoderCommandLine(in);
  EXPECT_TRUE(Contains(command, "-pix_fmt yuv420p -s 640x480 -i pipe:0")) << command;
  EXPECT_FALSE(Contains(command, "yuv444p")) << command;
}

// What the movie says of its picture: the aspect of pixels that are not square, the colours
// the video was decoded in, and a rate no container or player keeps up with, given up.
TEST(EncoderCommandLine, TheMovieKeepsThePicturesShapeColoursAndAPlayableRate) {
  EncoderInputs in = WorkedExample();
  in.output_name = "/o/a.mkv";
  in.tag_colours = true;
  const std::string square = EncoderCommandLine(in);
  EXPECT_FALSE(Contains(square, "setsar")) << square;
  EXPECT_TRUE(Contains(square, " -color_primaries bt709 -color_trc bt709 ")) << square;
  EXPECT_FALSE(Contains(square, " -r 240")) << square;
  // 720x576 PAL at 64:45, its frame files 704 wide; both views side by side twice as wide.
  in.frame_width = 704;
  in.frame_height = 576;
  in.pixel_aspect_x = 64;
  in.pixel_aspect_y = 45;
  in.primaries = "bt470bg";
  in.transfer = "smpte170m";
  std::string command = EncoderCommandLine(in);
  EXPECT_TRUE(Contains(command, " -vf crop=trunc(iw/2)*2:trunc(ih/2)*2,setsar=64/45 ")) << command;
  EXPECT_TRUE(Contains(command,
                       " -colorspace smpte170m -color_primaries bt470bg -color_trc "
                       "smpte170m -color_range tv "))
      << command;
  in.chroma444 = true;
  in.frames_from_pipe = true;
  command = EncoderCommandLine(in);
  EXPECT_TRUE(Contains(command, " -vf setsar=64/45  -pix_fmt yuv444p ")) << command;
  in.chroma444 = false;
  in.frames_from_pipe = false;
  // 2000 frames a second: written at 240, in the forms that keep the input's rate.
  in.time_per_frame = 5000;
  command = EncoderCommandLine(in);
  EXPECT_TRUE(Contains(command, " -r 2000.00 -i ")) << command;
  EXPECT_TRUE(Contains(command, " -r 240.00  -vcodec libx264")) << command;
  in.time_per_frame = 41708;  // 239.76
  EXPECT_FALSE(Contains(EncoderCommandLine(in), " -r 240")) << EncoderCommandLine(in);
}

TEST(SoundFileUsable, MissingOrEmptyFileIsNotUsed) {
  test::ScratchDir dir;
  EXPECT_FALSE(SoundFileUsable(dir.File("temp.wav")));
  ASSERT_TRUE(test::WriteFile(dir.File("temp.wav"), ""));
  EXPECT_FALSE(SoundFileUsable(dir.File("temp.wav")));
  ASSERT_TRUE(test::WriteFile(dir.File("temp.wav"), "RIFF"));
  EXPECT_TRUE(SoundFileUsable(dir.File("temp.wav")));
  EXPECT_FALSE(SoundFileUsable(dir.path()));
}

// The export's encoder run with a stand-in tool that records its arguments.
class EncoderRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    SetProgramLocation(dir_.File("zqrstereo"));
    ASSERT_TRUE(std::filesystem::create_directories(dir_.File("PLUG-IN")));
    ASSERT_TRUE(std::filesystem::create_directories(dir_.File("TEMP")));
    ResetSettingsToStartValues();
    Settings.CompressionValue = 0;
    Conversion.StopRequested = 0;
  }
  void TearDown() override {
    ResetSettingsToStartValues();
    Conversion.StopRequested = 0;
  }
  // The stand-in is a shell script: the callers skip themselves where no shell runs it.
  void Tool(const std::string& script) {
    const std::string tool = dir_.File("PLUG-IN/ffmpeg_III");
    ASSERT_TRUE(test::WriteFile(tool, "#!/bin/sh\n" + script));
    std::filesystem::permissions(tool, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
  }
  test::ScratchDir dir_;

 private:
  test::ProgramLocationGuard location_;
};

TEST_F(EncoderRunTest, LogsBothLinesAndRunsTheToolOnTheFrameFiles) {
#if defined(_WIN32)
  GTEST_SKIP() << "the stand-in tool is a /bin/sh script";
#endif
  const std::string record = dir_.File("args.txt");
  Tool("for a in \"$@\"; do echo \"$a\"; done > '" + record + "'\n");
  ASSERT_TRUE(test::WriteFile(SoundFile(Shell.TempFolder), "RIFF...."));
  Settings.AudioChannels = 1;
  Settings.SampleRateChoice = 1;
  Settings.ResizeMode = 5;
  Settings.CompressionValue = 4;

  const ExportResult result = ConvertRectExport(
      EncoderJob{dir_.File("out clip.MP4"), 304, 240, 400000, 2.5, ""}, WindowObserver());

  EXPECT_EQ(result.exit_status, 0);
  EXPECT_FALSE(result.written);  // the stand-in writes no movie
  EXPECT_EQ(Conversion.EncoderRunning, 0);
  std::string args = test::ReadFile(record);
  EXPECT_EQ(args, "-r\n25.00\n-i\n" + Shell.TempFolder + "/temp%06d.bmp\n-i\n" + Shell.TempFolder +
                      "/temp.wav\n-ac\n1\n-ar\n48000\n-r\n30\n-t\n00:00:03\n-s\n144x114\n"
                      "-qscale\n4\n-colorspace\nsmpte170m\n-color_primaries\nbt709\n"
                      "-color_trc\nbt709\n-color_range\ntv\n-f\nmp4\n-y\n" +
                      dir_.File("out clip.MP4") + "\n");
  std::string log = test::ReadFile(Shell.LogFile);
  std::string command = "\"" + ToolPath("ffmpeg_III") + "\"  -r 25.00 -i \"" + Shell.TempFolder +
                        "/temp%06d.bmp\" -i \"" + Shell.TempFolder +
                        "/temp.wav\" -ac 1  -ar 48000  -r 30  -t 00:00:03 -s 144x114  -qscale 4 "
                        "-colorspace smpte170m -color_primaries bt709 -color_trc bt709 "
                        "-color_range tv  -f mp4  -y \"" +
                        dir_.File("out clip.MP4") + "\"";
  EXPECT_EQ(log.substr(0, log.find("Encoder exit status")),
            "ConvertRectFFMPEG aVIDEOEXT .mp4\r\nFFMPEG : " + command + "\r\n");
}

TEST_F(EncoderRunTest, UnknownExtensionOrMissingToolRunsNothing) {
  EXPECT_EQ(ConvertRectExport(EncoderJob{dir_.File("out.mpg"), 304, 240, 400000, 2.0, ""},
                              WindowObserver())
                .exit_status,
            -1);
  EXPECT_EQ(Conversion.EncoderRunning, 0);
  EXPECT_TRUE(test::ReadFile(Shell.LogFile)
                  .starts_with("ConvertRectFFMPEG aVIDEOEXT .mpg\r\nFFMPEG : \r\nEncoder exit"));

  // No tool in PLUG-IN: the stage ends at once, as after a finished run.
  EXPECT_FALSE(ConvertRectExport(EncoderJob{dir_.File("out.avi"), 304, 240, 400000, 2.0, ""},
                                 WindowObserver())
                   .written);
  EXPECT_FALSE(test::FileExists(dir_.File("out.avi")));
}

TEST_F(EncoderRunTest, AStopRequestEndsTheToolAndNamesNoCause) {
#if defined(_WIN32)
  GTEST_SKIP() << "the stand-in tool is a /bin/sh script";
#endif
  Tool("printf 'out.mp4: No space left on device\\n' >&2\nexec sleep 30\n");
  std::thread stop([] {
    platform::SleepMs(300);
    Conversion.StopRequested = 1;
  });
  const int64_t start = platform::MonotonicMs();
  const ExportResult result = ConvertRectExport(
      EncoderJob{dir_.File("out.mp4"), 304, 240, 400000, 2.0, ""}, WindowObserver());
  stop.join();
  EXPECT_TRUE(result.stopped);
  EXPECT_FALSE(result.written);
  EXPECT_LT(platform::MonotonicMs() - start, 10000);
  EXPECT_EQ(EncoderFailureCause("frame= 10\nout.mp4: No space left on device\nConversion failed!"),
            "No space left on device");
  EXPECT_EQ(EncoderFailureCause("Conversion failed!"), "");
}

}  // namespace
}  // namespace zqr
