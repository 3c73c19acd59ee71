// The sound extraction on a temporary folder that fills while it writes: the run must say
// the folder is full, though the tool's own messages file sits on that disk.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "convert/make_wave.h"
#include "tests/support/test_support.h"

namespace zqr {
namespace {

TEST(EncoderResult, ATemporaryFolderThatFillsDuringTheSoundExtractionIsNamedFull) {
  test::ScratchDir dir;
  ASSERT_TRUE(test::MakeClip(dir.File("clip.mkv"), "testsrc2=size=64x48:rate=5", 20,
                             "sine=frequency=440:sample_rate=44100"));
  const std::string temp = dir.File("temp");
  std::filesystem::create_directories(temp);
  // 20 s of sound take 3.5 MB; the folder holds 600 kB.
  if (geteuid() != 0 ||
      test::Run({"mount", "-t", "tmpfs", "-o", "size=600k", "tmpfs", temp}).exit_code != 0) {
    GTEST_SKIP() << "a tmpfs needs root";
  }
  std::string reason;
  {
    SoundExtraction sound;
    ASSERT_TRUE(sound.Start(test::BinDir() + "/PLUG-IN/ffmpeg", dir.File("clip.mkv"),
                            temp + "/temp.wav", temp + "/temp_sound.txt"));
    EXPECT_NE(sound.Wait(), 0);
    reason = sound.Reason();
  }
  test::Run({"umount", "-l", temp});
  EXPECT_NE(reason.find("the temporary folder " + temp + " is full"), std::string::npos) << reason;
}

}  // namespace
}  // namespace zqr
