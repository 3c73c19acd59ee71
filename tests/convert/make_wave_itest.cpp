// Sound extraction with the real ffmpeg in PLUG-IN of a scratch program folder.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "convert/encoder_command.h"
#include "convert/make_wave.h"
#include "convert/sound_relay.h"
#include "convert/temp_files.h"
#include "core/run_log.h"
#include "core/shell_state.h"
#include "tests/support/test_support.h"

namespace zqr {
namespace {

class MakeWaveTest : public ::testing::Test {
 protected:
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
  // Extracts `clip`'s sound into TEMP/temp.wav; the tool's exit status.
  int Extract(const std::string& clip) {
    SoundExtraction sound;
    if (!sound.Start(ToolPath("ffmpeg"), clip, SoundFile(Shell.TempFolder),
                     Shell.TempFolder + "/messages.txt")) {
      return -2;
    }
    return sound.Wait();
  }
  test::ScratchDir dir_;
  test::ProgramLocationGuard location_;
};

TEST_F(MakeWaveTest, MonoAt48kBecomesStereoAt44kWhateverTheNameHolds) {
  MakeProgramFolder("my app");
  // Blanks at the ends, a quote and a line break: the name reaches the tool whole.
  std::string clip = dir_.File(" clip \"one\"\n.mp4 ");
  ASSERT_TRUE(test::MakeClip(dir_.File("clip.mp4"), "testsrc2=size=160x120:rate=25", 1.0,
                             "sine=frequency=440:sample_rate=48000", {"-ac", "1"}));
  ASSERT_EQ(rename(dir_.File("clip.mp4").c_str(), clip.c_str()), 0);
  EXPECT_EQ(Extract(clip), 0);
  std::string wav = SoundFile(Shell.TempFolder);
  ASSERT_TRUE(SoundFileUsable(wav));
  EXPECT_EQ(Probe(wav), "stream|pcm_s16le|44100|2\nformat|wav\n");
}

TEST_F(MakeWaveTest, NoSoundOrNoToolGivesNoUsableFileAndAReason) {
  MakeProgramFolder("app");
  std::string clip = dir_.File("silent.mp4");
  ASSERT_TRUE(test::MakeClip(clip, "testsrc2=size=160x120:rate=25", 1.0));
  SoundExtraction sound;
  ASSERT_TRUE(sound.Start(ToolPath("ffmpeg"), clip, SoundFile(Shell.TempFolder),
                          Shell.TempFolder + "/messages.txt"));
  EXPECT_NE(sound.Wait(), 0);
  EXPECT_FALSE(SoundFileUsable(SoundFile(Shell.TempFolder)));
  EXPECT_FALSE(sound.Reason().empty());

  SetProgramLocation(dir_.File("empty/zqrstereo"));
  EXPECT_EQ(Extract(dir_.File("none.avi")), -2);
}

TEST_F(MakeWaveTest, ALinkNamedLikeTheSoundFileIsNeverWrittenThrough) {
  MakeProgramFolder("app");
  const std::string victim = dir_.File("victim.txt");
  ASSERT_TRUE(test::WriteFile(victim, "precious"));
  ASSERT_EQ(symlink(victim.c_str(), SoundFile(Shell.TempFolder).c_str()), 0);
  std::string clip = dir_.File("clip.mp4");
  ASSERT_TRUE(test::MakeClip(clip, "testsrc2=size=160x120:rate=25", 1.0,
                             "sine=frequency=440:sample_rate=44100"));
  EXPECT_EQ(Extract(clip), -2);
  EXPECT_EQ(test::ReadFile(victim), "precious");
}

// The encoder reads the sound through the relay while the tool still writes the file: it
// must get every byte the file ends with, but for the two sizes in the header, which the
// tool writes last. A name taken by something else than a pipe is never replaced.
TEST_F(MakeWaveTest, TheRelayPassesTheWholeSoundOnWhileTheFileIsWritten) {
  MakeProgramFolder("app");
  std::string clip = dir_.File("clip.mp4");
  ASSERT_TRUE(test::MakeClip(clip, "testsrc2=size=160x120:rate=25", 3.0,
                             "sine=frequency=440:sample_rate=48000"));
  const std::string wav = SoundFile(Shell.TempFolder);
  const std::string pipe = SoundPipeFile(Shell.TempFolder);
  std::string relayed;
  {
    SoundExtraction sound;
    ASSERT_TRUE(sound.Start(ToolPath("ffmpeg"), clip, wav, Shell.TempFolder + "/messages.txt"));
    SoundRelay relay;
    ASSERT_TRUE(relay.Start(wav, pipe, sound));
    std::thread reader([&] { relayed = test::ReadFile(pipe); });
    reader.join();  // ends only when the relay has closed the pipe
    EXPECT_EQ(sound.Wait(), 0);
  }
  // The two sizes are either still the tool's placeholders or already the final ones.
  auto sizes_cleared = [](std::string wave) {
    for (size_t k : {size_t{4}, wave.find("data") + 4}) {
      if (k + 4 <= wave.size()) wave.replace(k, 4, 4, '\xff');
    }
    return wave;
  };
  const std::string written = test::ReadFile(wav);
  ASSERT_GT(written.size(), 3 * 44100 * 4u);
  ASSERT_EQ(relayed.size(), written.size());
  EXPECT_TRUE(sizes_cleared(relayed) == sizes_cleared(written));
  EXPECT_FALSE(test::FileExists(pipe));

  const std::string victim = dir_.File("victim.txt");
  ASSERT_TRUE(test::WriteFile(victim, "precious"));
  ASSERT_EQ(symlink(victim.c_str(), pipe.c_str()), 0);
  SoundExtraction none;
  SoundRelay refused;
  EXPECT_FALSE(refused.Start(wav, pipe, none));
  EXPECT_EQ(test::ReadFile(victim), "precious");
}

}  // namespace
}  // namespace zqr
