// zqrstereo --convert as a user runs it: every output format side by side (so also many
// runs at once in one temporary folder), refusals with their exit statuses, the lock on a
// temporary folder, and a failing encoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/support/test_support.h"

namespace zqr {
namespace {

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clip_ = dir_.File("clip.mp4");
    ASSERT_TRUE(test::MakeClip(clip_, "testsrc2=size=64x48:rate=30", 1.0,
                               "sine=frequency=440:sample_rate=44100"));
  }
  test::RunResult Batch(const std::vector<std::string>& args,
                        const std::string& program = test::BinDir() + "/zqrstereo") {
    std::vector<std::string> argv = {program, "--log", dir_.File("run.log")};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::Run(argv);
  }
  test::ScratchDir dir_;
  std::string clip_;
};

TEST_F(BatchTest, EveryExtensionSideBySide) {
  const std::vector<std::string> extensions = {"flv", "avi", "mov", "mp4",
                                               "m4v", "ogg", "ogv", "webm"};
  std::vector<std::future<test::RunResult>> runs;
  for (const std::string& extension : extensions) {
    runs.push_back(std::async(std::launch::async, [this, extension] {
      return test::Run({test::BinDir() + "/zqrstereo", "--convert", clip_,
                        dir_.File("out." + extension), "--stereo", "dynamic", "--log",
                        dir_.File(extension + ".log")});
    }));
  }
  for (size_t k = 0; k < extensions.size(); ++k) {
    SCOPED_TRACE(extensions[k]);
    const test::RunResult r = runs[k].get();
    EXPECT_EQ(r.exit_code, 0) << r.errors;
    EXPECT_EQ(r.output, dir_.File("out." + extensions[k]) + "\n");
    const test::MovieFigures p = test::ProbeMovie(dir_.File("out." + extensions[k]));
    EXPECT_EQ(p.width, 48);
    EXPECT_EQ(p.height, 48);
    // Theora stores frames too like the one before as empty packets, which ffprobe does not
    // count: there the duration shows the frames.
    if (extensions[k] == "ogg" || extensions[k] == "ogv") {
      EXPECT_NEAR(p.duration * 30, 30, 1);
    } else {
      EXPECT_NEAR(p.frames, 30, 1);
    }
    EXPECT_TRUE(p.sound);
  }
  // Each run recorded into a folder of its own and removed it.
  std::set<std::string> folders;
  for (const std::string& extension : extensions) {
    const std::string log = test::ReadFile(dir_.File(extension + ".log"));
    const std::string mark = "Batch temporary folder ";
    const size_t at = log.find(mark);
    ASSERT_NE(at, std::string::npos) << extension;
    const std::string folder = log.substr(at + mark.size(), log.find('\r', at) - at - mark.size());
    EXPECT_NE(folder.find("/run-"), std::string::npos) << folder;
    EXPECT_FALSE(std::filesystem::exists(folder)) << folder;
    folders.insert(folder);
  }
  EXPECT_EQ(folders.size(), extensions.size());
}

TEST_F(BatchTest, ConvertingInAFolderOfTheUsersLeavesTheirFilesAlone) {
  const std::string folder = dir_.File("my files");
  std::filesystem::create_directories(folder);
  const char* users[] = {"holiday.avi", "scan.bmp", "voice.wav", "temp000001.bmp.keep"};
  for (const char* name : users) ASSERT_TRUE(test::WriteFile(folder + "/" + name, "mine"));
  const test::RunResult r =
      Batch({"--convert", clip_, dir_.File("out.mp4"), "--stereo", "static", "--temp", folder});
  EXPECT_EQ(r.exit_code, 0) << r.errors;
  for (const char* name : users) {
    EXPECT_EQ(test::ReadFile(folder + "/" + std::string(name)), "mine") << name;
  }
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(std::find(std::begin(users), std::end(users), name) != std::end(users)) << name;
  }
}

TEST_F(BatchTest, FramesGoToTheEncoderFromMemoryAndGapsAreStillFilled) {
  // 6 s at 30 fps with frames 30 to 89 missing: 120 frames arrive, 180 pictures are due.
  const std::string clip = dir_.File("gap.mkv");
  ASSERT_TRUE(test::MakeClip(clip, "testsrc2=size=640x480:rate=30", 6.0,
                             "sine=frequency=440:sample_rate=44100",
                             {"-vf", "select='lt(n\\,30)+gte(n\\,90)'", "-fps_mode", "vfr"}));
  const test::RunResult r =
      Batch({"--convert", clip, dir_.File("gap.mp4"), "--temp", dir_.File("t")});
  ASSERT_EQ(r.exit_code, 0) << r.errors;
  const std::string log = test::ReadFile(dir_.File("run.log"));
  // Without another compression to come, no frame file is written at all.
  EXPECT_NE(log.find("Frames to the encoder from memory; no frame files"), std::string::npos);
  EXPECT_NE(log.find("frame files written 0, failed 0"), std::string::npos);
  EXPECT_NEAR(test::ProbeMovie(dir_.File("gap.mp4")).frames, 180, 1);
}

TEST_F(BatchTest, BadCommandLinesExitWithTwo) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--convert", "in.mp4"},
                                             {"--convert", "a.mp4", "b.mp4", "--sharpen", "6"},
                                             {"--convert", "a.mp4", "b.mp4", "--bitrate", "300k"},
                                             {"--convert", "a.mp4", "b.mp4", "--frobnicate"},
                                             {"--convert", "a.mp4", "b.mp4", "--temp", ""},
                                             {"--convert", "a.mp4", "b.mp4", "--log", ""}}) {
    const test::RunResult r = Batch(args);
    EXPECT_EQ(r.exit_code, 2) << args.back();
    EXPECT_FALSE(r.errors.empty());
  }
  const test::RunResult range = Batch({"--convert", "a.mp4", "b.mp4", "--tuning", "11"});
  EXPECT_NE(range.errors.find("--tuning takes a number from -10 to 10"), std::string::npos)
      << range.errors;
  const test::RunResult help = Batch({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  for (const char* option : {"--convert", "--codec-mode", "--sample-rate", "--keep-frames",
                             "--temp", "--log", "--version"}) {
    EXPECT_NE(help.output.find(option), std::string::npos) << option;
  }
  EXPECT_NE(Batch({"--version"}).output.find("Build 005.01"), std::string::npos);
}

TEST_F(BatchTest, FailedConversionsExitWithOneAndSayWhy) {
  const test::RunResult same = Batch({"--convert", clip_, clip_});
  EXPECT_EQ(same.exit_code, 1);
  EXPECT_NE(same.errors.find("the output file is the input file"), std::string::npos)
      << same.errors;
  const test::RunResult missing = Batch({"--convert", dir_.File("none.mp4"), dir_.File("o.mp4")});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.errors.find("does not exist"), std::string::npos);
  // A loop of links is there, only it leads nowhere.
  std::filesystem::create_symlink("loop-b.mp4", dir_.File("loop-a.mp4"));
  std::filesystem::create_symlink("loop-a.mp4", dir_.File("loop-b.mp4"));
  const test::RunResult loop = Batch({"--convert", dir_.File("loop-a.mp4"), dir_.File("o.mp4")});
  EXPECT_EQ(loop.exit_code, 1);
  EXPECT_NE(loop.errors.find("cannot be reached (too many levels of symbolic links)"),
            std::string::npos)
      << loop.errors;

  // A temporary folder in use by another conversion (the window's, say) is shared: the run
  // works in a folder of its own inside it and leaves the other's lock alone.
  const std::string temp = dir_.File("temp");
  std::filesystem::create_directories(temp);
  platform::FolderLock other;
  ASSERT_TRUE(other.TryLock(temp));
  const test::RunResult locked =
      Batch({"--convert", clip_, dir_.File("locked.mp4"), "--temp", temp});
  EXPECT_EQ(locked.exit_code, 0) << locked.errors;
  EXPECT_TRUE(test::FileExists(temp + "/.zqrstereo.lock"));
  platform::FolderLock again;
  EXPECT_FALSE(again.TryLock(temp));
  other.Unlock();

  // --keep-frames leaves the work files in the run's folder inside --temp, and names it.
  const test::RunResult kept =
      Batch({"--convert", clip_, dir_.File("kept.mp4"), "--temp", temp, "--keep-frames"});
  EXPECT_EQ(kept.exit_code, 0) << kept.errors;
  const std::string mark = "work files kept in ";
  const size_t at = kept.errors.find(mark);
  ASSERT_NE(at, std::string::npos) << kept.errors;
  const std::string folder =
      kept.errors.substr(at + mark.size(), kept.errors.find('\n', at) - at - mark.size());
  EXPECT_TRUE(folder.starts_with(temp + "/run-")) << folder;
  EXPECT_TRUE(test::FileExists(folder + "/temp000029.bmp")) << folder;
  EXPECT_TRUE(test::FileExists(folder + "/temp.wav")) << folder;
}

TEST_F(BatchTest, AFailingEncoderGivesExitStatusOne) {
  // A copy of the program whose encoder tool fails.
  const std::string program = dir_.File("program");
  std::filesystem::create_directories(program + "/PLUG-IN");
  std::filesystem::copy_file(test::BinDir() + "/zqrstereo", program + "/zqrstereo");
  std::filesystem::create_symlink(test::BinDir() + "/PLUG-IN/ffmpeg", program + "/PLUG-IN/ffmpeg");
  ASSERT_TRUE(test::WriteFile(program + "/PLUG-IN/ffmpeg_III", "#!/bin/sh\nexit 1\n"));
  std::filesystem::permissions(program + "/PLUG-IN/ffmpeg_III", std::filesystem::perms::owner_all);
  const test::RunResult r =
      Batch({"--convert", clip_, dir_.File("out.mp4")}, program + "/zqrstereo");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.errors.find("the encoder could not write " + dir_.File("out.mp4")), std::string::npos)
      << r.errors;
  EXPECT_FALSE(test::FileExists(program + "/zqrstereo.ini"));  // the settings file is not written
}

}  // namespace
}  // namespace zqr
