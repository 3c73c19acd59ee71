// The temporary-file names and their clean-up.
#include <gtest/gtest.h>

#include <string>

#include "convert/temp_files.h"
#include "core/shell_state.h"
#include "platform/files.h"
#include "platform/system.h"
#include "tests/support/test_support.h"

namespace zqr {
namespace {

class CleanTempFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = Shell.TempFolder; }
  void TearDown() override { Shell.TempFolder = saved_; }
  // The program's own files, and a user's files that only look like them.
  static constexpr const char* kOwn[] = {"temp000000.bmp", "temp1234567.bmp", "temp.wav"};
  // Windows file names ignore case: "Temp.wav" there is the program's own "temp.wav".
  static constexpr const char* kUsers[] = {
    "holiday.avi",
    "scan.bmp",
    "voice.wav",
    "temp000001.bmp.keep",
    "temp12345.bmp",
    "TEMP000003.bmp",
    "temp00000x.bmp",
#if !defined(_WIN32)
    "Temp.wav",
#endif
  };
  void Fill() {
    for (const char* name : kOwn) ASSERT_TRUE(test::WriteFile(dir_.File(name), "data"));
    for (const char* name : kUsers) ASSERT_TRUE(test::WriteFile(dir_.File(name), "data"));
  }
  test::ScratchDir dir_;
  std::string saved_;
};

TEST(TempFileNames, PatternAndSoundFile) {
  EXPECT_EQ(FramePattern("/p/TEMP"), test::InFolder("/p/TEMP", "temp%06d.bmp"));
  EXPECT_EQ(SoundFile("/p/TEMP"), test::InFolder("/p/TEMP", "temp.wav"));
}

TEST_F(CleanTempFilesTest, RemovesOnlyTheProgramsOwnFilesWhateverKeepAviSays) {
  Shell.TempFolder = dir_.path();
  for (int32_t keep_avi : {1, 0}) {
    Fill();
    CleanTempFiles(keep_avi);
    for (const char* name : kOwn) EXPECT_FALSE(test::FileExists(dir_.File(name))) << name;
    for (const char* name : kUsers) EXPECT_TRUE(test::FileExists(dir_.File(name))) << name;
  }
}

TEST_F(CleanTempFilesTest, AFolderAnotherConversionHoldsKeepsItsFiles) {
  // A second window's start-up clean-up while the first window converts in the folder.
  Shell.TempFolder = dir_.path();
  Fill();
  {
    platform::FolderLock converting;
    ASSERT_TRUE(converting.TryLock(dir_.path()));
    CleanTempFiles(0);
    for (const char* name : kOwn) EXPECT_TRUE(test::FileExists(dir_.File(name))) << name;
  }
  CleanTempFiles(0);
  for (const char* name : kOwn) EXPECT_FALSE(test::FileExists(dir_.File(name))) << name;
}

TEST_F(CleanTempFilesTest, FramesWrittenDuringTheWaitAreRemovedToo) {
  Shell.TempFolder = dir_.path();
  ASSERT_TRUE(StartCleanTempFiles(1));
  platform::SleepMs(150);
  // A writer that finishes after the first pass.
  ASSERT_TRUE(test::WriteFile(dir_.File("temp000007.bmp"), "late"));
  for (int i = 0; i < 300 && test::FileExists(dir_.File("temp000007.bmp")); ++i) {
    platform::SleepMs(10);
  }
  EXPECT_FALSE(test::FileExists(dir_.File("temp000007.bmp")));
  platform::SleepMs(50);  // the thread reads TempFolder only at its start
}

TEST_F(CleanTempFilesTest, SoundLeftoversGoUnlessAConversionHoldsTheFolder) {
  // Windows keeps its pipes out of the folder: a file there named like one is not the program's.
  const bool pipe_in_folder = SoundPipeFile(dir_.path()) == dir_.File("temp_wav.fifo");
  auto fill = [&] {
    for (const char* name : {"temp_wav.fifo", "temp_sound.txt", "voice.txt"}) {
      ASSERT_TRUE(test::WriteFile(dir_.File(name), "data"));
    }
  };
  fill();
  {
    platform::FolderLock converting;
    ASSERT_TRUE(converting.TryLock(dir_.path()));
    EXPECT_FALSE(DeleteSoundLeftovers(dir_.path()));
    EXPECT_TRUE(test::FileExists(dir_.File("temp_wav.fifo")));
    EXPECT_TRUE(test::FileExists(dir_.File("temp_sound.txt")));
  }
  EXPECT_TRUE(DeleteSoundLeftovers(dir_.path()));
  EXPECT_EQ(test::FileExists(dir_.File("temp_wav.fifo")), !pipe_in_folder);
  EXPECT_FALSE(test::FileExists(dir_.File("temp_sound.txt")));
  EXPECT_TRUE(test::FileExists(dir_.File("voice.txt")));
}

TEST_F(CleanTempFilesTest, MissingFolderIsNoError) {
  Shell.TempFolder = dir_.File("none");
  int64_t start = platform::MonotonicMs();
  CleanTempFiles(0);
  EXPECT_GE(platform::MonotonicMs() - start, 450);
  EXPECT_FALSE(test::FileExists(dir_.File("none")));
}

}  // namespace
}  // namespace zqr
