// The probe on generated clips, through the batch file in a scratch program folder:
// with the real ffmpeg, and with a stand-in tool that reports in the numbering of the
// ffmpeg releases the converter was written against.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/run_log.h"
#include "core/shell_state.h"
#include "tests/support/test_support.h"
#include "video/probe.h"
#include "video/video_state.h"

namespace zqr {
namespace {

class ProbeVideoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = dir_.File("my app");
    mkdir(folder_.c_str(), 0755);
    mkdir((folder_ + "/PLUG-IN").c_str(), 0755);
    SetProgramLocation(folder_ + "/zqrstereo");
  }
  // The program's own PLUG-IN/ffmpeg: today's ffmpeg behind the launcher.
  void UseRealFfmpeg() {
    std::string launcher = test::BinDir() + "/PLUG-IN/ffmpeg";
    ASSERT_EQ(symlink(launcher.c_str(), (folder_ + "/PLUG-IN/ffmpeg").c_str()), 0);
  }
  void ExpectNoProbeFiles() {
    EXPECT_FALSE(test::FileExists(folder_ + "/tempKRun.bat"));
    EXPECT_FALSE(test::FileExists(folder_ + "/metrixVIDEOKRun.txt"));
  }
  test::ScratchDir dir_;
  std::string folder_;
  test::ProgramLocationGuard location_;
};

TEST_F(ProbeVideoTest, RealFfmpegOnAGeneratedClip) {
  UseRealFfmpeg();
  std::string clip = dir_.File("clip.mp4");
  ASSERT_TRUE(test::MakeClip(clip, "testsrc2=size=320x240:rate=25", 1.0,
                             "sine=frequency=440:sample_rate=48000"));
  // Today's ffmpeg numbers streams "#0:0"; the launcher gives the probe "#0.0".
  const std::string info = ProbeVideo(clip).value_or("");
  EXPECT_EQ(info.rfind("VIDEO file: clip.mp4\r\n\r\nvideo: ", 0), 0u) << info;
  EXPECT_NE(info.find("320x240"), std::string::npos) << info;
  EXPECT_NE(info.find("25 fps, 25 tbr"), std::string::npos) << info;
  EXPECT_NE(info.find("\r\naudio: "), std::string::npos) << info;
  ExpectNoProbeFiles();
}

TEST_F(ProbeVideoTest, ReportWithStreamLinesGivesTheirSummaries) {
  // The stand-in prints a report like the ffmpeg of that era on its error stream, and
  // its arguments on its output stream (which the batch line does not redirect).
  ASSERT_TRUE(test::WriteFile(
      folder_ + "/PLUG-IN/ffmpeg",
      "#!/bin/sh\n"
      "[ \"$1\" = -i ] && [ -f \"$2\" ] && [ $# -eq 2 ] || exit 2\n"
      "echo \"Input #0, avi, from '$2':\" >&2\n"
      "echo '    Stream #0.0(und): Video: mpeg4, yuv420p, 640x480, 25 fps, 25 tbr, 25 tbn, 25 "
      "tbc' >&2\n"
      "echo '    Stream #0.1(und): Audio: mp3, 44100 Hz, stereo, s16, 128 kb/s' >&2\n"
      "echo 'At least one output file must be specified' >&2\n"
      "exit 1\n"));
  ASSERT_EQ(chmod((folder_ + "/PLUG-IN/ffmpeg").c_str(), 0755), 0);
  std::string clip = dir_.File("a clip.avi  ");  // blanks and all: the name as given
  ASSERT_TRUE(test::WriteFile(clip, "not really a video"));
  EXPECT_EQ(ProbeVideo(clip),
            "VIDEO file: a clip.avi  \r\n\r\n"
            "video: mpeg4, yuv420p, 640x480, 25 fps, 25 tbr, 25 tbn, 25 tbc\r\n"
            "audio: mp3, 44100 hz, stereo, s16, 128 kb/s");
  ExpectNoProbeFiles();
}

TEST_F(ProbeVideoTest, EmptyOrMissingPathChangesNothing) {
  UseRealFfmpeg();
  EXPECT_EQ(ProbeVideo("   "), std::nullopt);
  EXPECT_EQ(ProbeVideo(dir_.File("none.avi")), std::nullopt);
  EXPECT_EQ(ProbeVideo(dir_.path()), std::nullopt);
  ExpectNoProbeFiles();
}

TEST_F(ProbeVideoTest, MissingToolGivesTheHeaderOnly) {
  std::string clip = dir_.File("c.avi");
  ASSERT_TRUE(test::WriteFile(clip, "x"));
  EXPECT_EQ(ProbeVideo(clip), "VIDEO file: c.avi\r\n");
  ExpectNoProbeFiles();
}

TEST_F(ProbeVideoTest, EachLoadedVideoKeepsItsOwnSummary) {
  std::string first_clip = dir_.File("a.avi");
  std::string second_clip = dir_.File("b.avi");
  ASSERT_TRUE(test::WriteFile(first_clip, "x"));
  ASSERT_TRUE(test::WriteFile(second_clip, "x"));
  auto first = std::make_shared<LoadedVideo>(first_clip);
  first->StartProbe();
  SetCurrentLoadedVideo(first);
  auto second = std::make_shared<LoadedVideo>(second_clip);
  second->StartProbe();
  SetCurrentLoadedVideo(second);  // the window moved on; a conversion may still hold the first
  first->AwaitProbe();
  second->AwaitProbe();
  EXPECT_EQ(first->probe_text(), "VIDEO file: a.avi\r\n");
  EXPECT_EQ(second->probe_text(), "VIDEO file: b.avi\r\n");
  EXPECT_EQ(CurrentVideo(), second_clip);
  // A video let go of while its probe runs waits for it.
  std::make_shared<LoadedVideo>(first_clip)->StartProbe();
  SetCurrentLoadedVideo(nullptr);
  EXPECT_EQ(CurrentGraph(), nullptr);
  ExpectNoProbeFiles();
}

}  // namespace
}  // namespace zqr
