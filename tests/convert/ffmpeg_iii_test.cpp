// ffmpeg_III's translations of the old encoder options, seen through its --dry-run.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/system.h"
#include "tests/support/test_support.h"

namespace zqr {
namespace {

using Args = std::vector<std::string>;

// What ffmpeg_III would run for a command line (without the program itself).
Args Translated(const std::string& arguments, std::string* program = nullptr) {
  Args argv = platform::SplitCommandLine("ffmpeg_III " + arguments);
  argv[0] = test::BinDir() + "/PLUG-IN/ffmpeg_III";
  argv.insert(argv.begin() + 1, "--dry-run");
  test::RunResult result = test::Run(argv);
  EXPECT_EQ(result.exit_code, 0) << result.errors;
  Args lines;
  std::istringstream stream(result.output);
  std::string line;
  while (std::getline(stream, line)) {
    if (line.ends_with('\r')) line.pop_back();  // Windows writes text lines with "\r\n"
    lines.push_back(line);
  }
  if (lines.empty()) return lines;
  if (program != nullptr) *program = lines.front();
  lines.erase(lines.begin());
  return lines;
}

std::string Joined(const Args& args) {
  std::string text;
  for (const std::string& arg : args) text += (text.empty() ? "" : " ") + arg;
  return text;
}

const char* kInputs = " -r 25.00 -i \"/t/temp%06d.bmp\" -i \"/t/temp.wav\" -ac 2  -ar 44100 ";
const char* kYuv = " -pix_fmt yuv420p -vf crop=trunc(iw/2)*2:trunc(ih/2)*2";

TEST(FfmpegIII, X264FormsKeepTheirCrfAndLoseTheQscale) {
  EXPECT_EQ(Joined(Translated(std::string(kInputs) +
                              " -vcodec libx264 -acodec mp3  -t 00:00:02 -b 500k  -crf 22 "
                              "-qscale 15 -f flv  -y \"/o/a b.flv\"")),
            "-r 25.00 -i /t/temp%06d.bmp -i /t/temp.wav -ac 2 -ar 44100 -vcodec libx264 "
            "-acodec libmp3lame -t 00:00:02 -b:v 500k -crf 22 -f flv -y" +
                std::string(kYuv) + " /o/a b.flv");
}

TEST(FfmpegIII, SameqIsDroppedAndQscaleBecomesCrfForH264) {
  EXPECT_EQ(Joined(Translated(std::string(kInputs) +
                              " -r 30  -t 00:00:02 -sameq -qscale 15 -f mp4  -y \"/o/a.mp4\"")),
            "-r 25.00 -i /t/temp%06d.bmp -i /t/temp.wav -ac 2 -ar 44100 -r 30 -t 00:00:02 "
            "-crf 25 -f mp4 -y" +
                std::string(kYuv) + " /o/a.mp4");
}

TEST(FfmpegIII, M4vIsWrittenAsAnMp4WithSound) {
  Args args = Translated(
      " -r 30 -i \"/t/temp%06d.bmp\"   -r 30  -t 00:00:02 -qscale 3 -f m4v  "
      "-y \"/o/a.m4v\"");
  EXPECT_EQ(Joined(args), "-r 30 -i /t/temp%06d.bmp -r 30 -t 00:00:02 -crf 13 -f ipod -y" +
                              std::string(kYuv) + " /o/a.m4v");
}

TEST(FfmpegIII, TheoraQualityRunsUpwards) {
  auto quality = [](int q) {
    Args args =
        Translated(" -i x.bmp -r 30 -qscale " + std::to_string(q) + " -f ogg -y \"/o/a.ogv\"");
    for (size_t i = 0; i + 1 < args.size(); ++i) {
      if (args[i] == "-q:v") return args[i + 1];
    }
    return std::string("none");
  };
  EXPECT_EQ(quality(1), "10");
  EXPECT_EQ(quality(15), "3");
  EXPECT_EQ(quality(20), "0.5");
  EXPECT_EQ(quality(21), "0");
}

TEST(FfmpegIII, WebmGetsVp8AndVorbisWithAConstantQualityCeiling) {
  EXPECT_EQ(Joined(Translated(" -i x.bmp -i y.wav -ac 1  -ar 22050  -r 30  -t 00:00:02 -qscale 7 "
                              "-f webm  -y \"/o/a.webm\"")),
            "-i x.bmp -i y.wav -ac 1 -ar 22050 -r 30 -t 00:00:02 -crf 17 -f webm -y -vcodec "
            "libvpx -acodec libvorbis -b:v 10M" +
                std::string(kYuv) + " /o/a.webm");
  // A chosen bit rate is the ceiling itself; -sameq leaves libvpx's default quality.
  EXPECT_EQ(Joined(Translated(" -i x.bmp -r 30  -t 00:00:02 -b 900k  -sameq -f webm  -y o.webm")),
            "-i x.bmp -r 30 -t 00:00:02 -b:v 900k -f webm -y -vcodec libvpx -acodec libvorbis" +
                std::string(kYuv) + " o.webm");
}

TEST(FfmpegIII, PartitionFlagsBecomeAList) {
  auto partitions = [](const std::string& flags) {
    Args args = Translated(" -i x.bmp -vcodec libx264 -partitions " + flags + " -f avi -y o.avi");
    for (size_t i = 0; i + 1 < args.size(); ++i) {
      if (args[i] == "-partitions") return args[i + 1];
    }
    return std::string("dropped");
  };
  EXPECT_EQ(partitions("-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8"), "none");
  EXPECT_EQ(partitions("-parti8x8+parti4x4+partp8x8-partp4x4-partb8x8"), "i4x4,p8x8");
  EXPECT_EQ(partitions("+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8"), "i8x8,i4x4,p8x8,p4x4");
  EXPECT_EQ(partitions("i4x4,p8x8"), "i4x4,p8x8");
}

TEST(FfmpegIII, X264PrivateOptionsAreDroppedForOtherEncoders) {
  Args args = Translated(
      " -i x.bmp -r 30 -t 00:00:02 -threads 0 -coder 1 -flags +loop -cmp +chroma -partitions "
      "+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8  -subq 8  -me_range 16 -g 250 -keyint_min 25 "
      "-sc_threshold 40 -i_qfactor 0.71 -b_strategy 1 -qcomp 0.6 -qmin 10 -qmax 51 -qdiff 4 "
      "-refs 16  -crf 11 -f ogg  -y o.ogg");
  EXPECT_EQ(Joined(args),
            "-i x.bmp -r 30 -t 00:00:02 -threads 0 -flags +loop -cmp +chroma -subq 8 -me_range 16 "
            "-g 250 -keyint_min 25 -i_qfactor 0.71 -qcomp 0.6 -qmin 10 -qmax 51 -qdiff 4 -refs 16 "
            "-f ogg -y" +
                std::string(kYuv) + " o.ogg");
}

TEST(FfmpegIII, NamedPixelFormatOrFilterIsKept) {
  EXPECT_EQ(Joined(Translated(" -i x.bmp -pix_fmt yuv444p -f mp4 -y o.mp4")),
            "-i x.bmp -pix_fmt yuv444p -f mp4 -y o.mp4");
  EXPECT_EQ(Joined(Translated(" -i x.bmp -vf scale=64:48 -f mp4 -y o.mp4")),
            "-i x.bmp -vf scale=64:48 -f mp4 -y -pix_fmt yuv420p o.mp4");
  // Sound alone gets no video options.
  EXPECT_EQ(Joined(Translated(" -i x.wav -vn -f wav -y o.wav")), "-i x.wav -vn -f wav -y o.wav");
}

TEST(FfmpegIII, RefusesQualitiesThatAreNotFiniteNumbersAndKeepsTheOutputLast) {
  for (const char* value : {"nan", "1e400", "abc", "7x"}) {
    test::RunResult result = test::Run({test::BinDir() + "/PLUG-IN/ffmpeg_III", "--dry-run", "-i",
                                        "x.bmp", "-qscale", value, "-y", "o.mp4"});
    EXPECT_EQ(result.exit_code, 1) << value;
    EXPECT_NE(result.errors.find("-qscale needs a finite number"), std::string::npos) << value;
  }
  // An output named like an option, and an option left without a value before it.
  EXPECT_EQ(Joined(Translated(" -i x.bmp -f mp4 -y -o.mp4")),
            "-i x.bmp -f mp4 -y" + std::string(kYuv) + " " + test::InFolder(".", "-o.mp4"));
  EXPECT_EQ(Joined(Translated(" -i x.bmp -f mp4 -i o.mp4")),
            "-i x.bmp -f mp4" + std::string(kYuv) + " o.mp4");
}

TEST(FfmpegIII, RunsTheFfmpegBesideIt) {
  std::string program;
  Translated(" -i x.bmp -f mp4 -y o.mp4", &program);
  const std::string beside = test::BinDir() + "/PLUG-IN/ffmpeg" + platform::kExecutableSuffix;
  if (test::FileExists(beside)) {
#if defined(_WIN32)
    // The tool names itself as the system does (drive, backslashes).
    EXPECT_TRUE(std::filesystem::equivalent(program, beside)) << program;
#else
    EXPECT_EQ(program, beside);
#endif
  } else {
    EXPECT_EQ(program, "ffmpeg");
  }
}

}  // namespace
}  // namespace zqr
