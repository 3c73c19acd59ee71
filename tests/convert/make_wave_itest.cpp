// Sound extraction with the real ffmpeg in PLUG-IN of a scratch program folder.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "app/run_log.h"
#include "app/shell_state.h"
#include "convert/convert_state.h"
#include "convert/encoder_command.h"
#include "convert/make_wave.h"
#include "convert/temp_files.h"
#include "tests/support/test_support.h"

namespace zqr {
namespace {

class MakeWaveTest : public ::testing::Test {
 protected:
  void TearDown() override { SetCurrentVideo(""); }
  // A program folder (its name may hold blanks) with PLUG-IN/ffmpeg and TEMP.
  std::string MakeProgramFolder(const std::string& name) {
    std::string folder = dir_.File(name);
    mkdir(folder.c_str(), 0755);
    mkdir((folder + "/PLUG-IN").c_str(), 0755);
    mkdir((folder + "/TEMP").c_str(), 0755);
    std::string ffmpeg = test::Run({"sh", "-c", "command -v ffmpeg"}).output;
    while (!ffmpeg.empty() && ffmpeg.back() == '\n') ffmpeg.pop_back();
    EXPECT_EQ(symlink(ffmpeg.c_str(), (folder + "/PLUG-IN/ffmpeg").c_str()), 0);
    SetProgramLocation(folder + "/zqrstereo");
    return folder;
  }
  std::string Probe(const std::string& path) {
    return test::Run({"ffprobe", "-v", "error", "-show_entries",
                      "format=format_name:stream=codec_name,sample_rate,channels", "-of",
                      "compact=nokey=1", path})
        .output;
  }
  test::ScratchDir dir_;
  test::ProgramLocationGuard location_;
};

TEST_F(MakeWaveTest, MonoAt48kBecomesStereoAt44k) {
  MakeProgramFolder("my app");  // blanks: the unquoted tool path must still be found
  std::string clip = dir_.File("clip one.mp4");
  ASSERT_TRUE(test::MakeClip(clip, "testsrc2=size=160x120:rate=25", 1.0,
                             "sine=frequency=440:sample_rate=48000", {"-ac", "1"}));
  SetCurrentVideo(" " + clip + " ");
  MakeWave(0);
  std::string wav = SoundFile(Shell.TempFolder);
  ASSERT_TRUE(SoundFileUsable(wav));
  EXPECT_EQ(Probe(wav), "stream|pcm_s16le|44100|2\nformat|wav\n");
}

TEST_F(MakeWaveTest, VideoWithoutSoundLeavesNoUsableFile) {
  MakeProgramFolder("app");
  std::string clip = dir_.File("silent.mp4");
  ASSERT_TRUE(test::MakeClip(clip, "testsrc2=size=160x120:rate=25", 1.0));
  SetCurrentVideo(clip);
  MakeWave(0);
  EXPECT_FALSE(SoundFileUsable(SoundFile(Shell.TempFolder)));
}

TEST_F(MakeWaveTest, MissingToolStartsNothing) {
  SetProgramLocation(dir_.File("empty/zqrstereo"));
  SetCurrentVideo(dir_.File("none.avi"));
  MakeWave(0);
  EXPECT_FALSE(test::FileExists(SoundFile(Shell.TempFolder)));
}

}  // namespace
}  // namespace zqr
