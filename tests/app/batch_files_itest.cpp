// zqrstereo --convert and the files around a run that are not the movie: the log, the
// temporary folder and what the user keeps there, the run folders, the leftovers of a run
// that was killed, per-process logs, a settings file or log that is a FIFO, and standard
// output read by nobody. Each run uses a copy of the program, so its files are the test's.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "convert/temp_files.h"
#include "platform/files.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace zqr {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class BatchFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = dir_.File("program");
    fs::create_directories(program_ + "/PLUG-IN");
    fs::copy_file(test::BinDir() + "/zqrstereo", program_ + "/zqrstereo");
    for (const char* tool : {"ffmpeg", "ffmpeg_III"}) {
      fs::create_symlink(test::BinDir() + "/PLUG-IN/" + tool, program_ + "/PLUG-IN/" + tool);
    }
  }
  std::string Clip(const std::string& name, double seconds,
                   const std::string& video = "testsrc2=size=64x48:rate=30") {
    const std::string path = dir_.File(name);
    EXPECT_TRUE(test::MakeClip(path, video, seconds, "sine=frequency=440:sample_rate=44100"));
    return path;
  }
  test::RunResult Batch(std::vector<std::string> args,
                        const std::function<void(int)>& meanwhile = nullptr) {
    std::vector<std::string> argv;
    argv.reserve(args.size() + 1);
    argv.push_back(program_ + "/zqrstereo");
    for (std::string& arg : args) argv.push_back(std::move(arg));
    return test::Run(argv, meanwhile);
  }
  static std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  static bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  test::ScratchDir dir_;
  std::string program_;
};

// A FIFO or a stuck run must not hold the test: SIGTERM after a while, then SIGKILL.
void EndIfStuck(int pid) {
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (Clock::now() < deadline) {
    siginfo_t info{};
    // Looked at without reaping it: the runner still waits for it.
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
        info.si_pid == pid) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGTERM);
  std::this_thread::sleep_for(std::chrono::seconds(5));
  kill(pid, SIGKILL);
}

TEST_F(BatchFilesTest, LogTempAndMovieThatNameTheInputOrEachOtherAreRefusedUntouched) {
  const std::string clip = Clip("clip.mp4", 1);
  const std::string video = test::ReadFile(clip);
  const std::string old_movie = dir_.File("old.mp4");
  ASSERT_TRUE(test::WriteFile(old_movie, "an older movie"));
  ASSERT_TRUE(test::WriteFile(dir_.File("notes.txt"), "my notes\n"));
  fs::create_directories(dir_.File("temp"));
  fs::create_directories(dir_.File("sub"));
  const std::string out = dir_.File("out.mp4");
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--convert", clip, out, "--log", clip}, "is the input file"},
      {{"--convert", clip, out, "--log", dir_.path() + "/sub/../clip.mp4"}, "is the input file"},
      {{"--convert", clip, old_movie, "--log", old_movie}, "is the output file"},
      {{"--convert", clip, out, "--log", dir_.File("notes.txt")}, "not a run log"},
      {{"--convert", clip, out, "--temp", clip}, "is the input file"},
      {{"--convert", clip, out, "--temp", out}, "is the output file"},
      {{"--convert", clip, out, "--temp", dir_.File("temp"), "--log", dir_.File("temp")},
       "is the temporary folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const test::RunResult r = Batch(c.args);
    EXPECT_EQ(r.exit_code, 1) << r.errors;
    EXPECT_TRUE(Has(r.errors, c.says)) << r.errors;
    EXPECT_EQ(test::ReadFile(clip), video);
    EXPECT_EQ(test::ReadFile(old_movie), "an older movie");
    EXPECT_EQ(test::ReadFile(dir_.File("notes.txt")), "my notes\n");
    EXPECT_FALSE(test::FileExists(out));
    EXPECT_TRUE(fs::is_directory(dir_.File("temp")));
  }
  EXPECT_EQ(Names(dir_.File("temp")), std::vector<std::string>{});

  // A log of ours is taken again, emptied first.
  const std::string log = dir_.File("run.log");
  ASSERT_EQ(Batch({"--convert", clip, out, "--log", log}).exit_code, 0);
  ASSERT_EQ(Batch({"--convert", clip, dir_.File("again.mp4"), "--log", log}).exit_code, 0);
  const std::string text = test::ReadFile(log);
  EXPECT_EQ(text.rfind("Generated by Kavelund ZQR Stereo Video Coverter", 0), 0u) << text;
  EXPECT_FALSE(Has(text, "/out.mp4")) << text;
}

// The temporary folder is shared with the user's own folders, old ones among them; only
// run folders the program made go, never one kept with --keep-frames, and --temp never
// touches, follows or empties what the user keeps in the folder it names.
TEST_F(BatchFilesTest, OnlyTheProgramsOwnRunFoldersAndWorkFilesAreEverTouched) {
  const std::string clip = Clip("clip.mp4", 1);
  const std::string temp = program_ + "/TEMP";
  fs::create_directories(temp);
  for (const char* name : {"run-2023-holiday-photos", "run-results", "run-locked", "run-abc123"}) {
    fs::create_directories(temp + "/" + name);
    ASSERT_TRUE(test::WriteFile(temp + "/" + name + "/photo.jpg", "mine"));
  }
  ASSERT_TRUE(test::WriteFile(temp + "/run-locked/.zqrstereo.lock", ""));
  // A copy of a run folder is no run folder: its mark names another folder.
  {
    platform::FolderLock lock;
    int error = 0;
    const std::string made = MakeRunFolder(dir_.path(), lock, &error);
    ASSERT_FALSE(made.empty()) << error;
    lock.Unlock();
    fs::copy(made, temp + "/run-Copied");
  }

  const test::RunResult kept = Batch({"--convert", clip, dir_.File("kept.mp4"), "--keep-frames"});
  ASSERT_EQ(kept.exit_code, 0) << kept.errors;
  const std::string mark = "work files kept in ";
  const size_t at = kept.errors.find(mark);
  ASSERT_NE(at, std::string::npos) << kept.errors;
  const std::string kept_folder =
      kept.errors.substr(at + mark.size(), kept.errors.find('\n', at) - at - mark.size());
  EXPECT_TRUE(test::FileExists(kept_folder + "/temp.wav")) << kept_folder;
  const std::vector<std::string> before = Names(temp);
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(48);
  for (const std::string& name : before) fs::last_write_time(temp + "/" + name, old);

  const test::RunResult next = Batch({"--convert", clip, dir_.File("next.mp4")});
  ASSERT_EQ(next.exit_code, 0) << next.errors;
  EXPECT_EQ(Names(temp), before);
  EXPECT_EQ(test::ReadFile(temp + "/run-locked/photo.jpg"), "mine");
  // Nothing to keep, nothing said to be kept.
  ASSERT_TRUE(test::WriteFile(dir_.File("notes.mp4"), "not a video"));
  const test::RunResult failed =
      Batch({"--convert", dir_.File("notes.mp4"), dir_.File("n.mp4"), "--keep-frames"});
  EXPECT_EQ(failed.exit_code, 1);
  EXPECT_FALSE(Has(failed.errors, mark)) << failed.errors;
  EXPECT_EQ(Names(temp), before);

  // --temp: the user's files under the work files' names, and links there, stay as they are.
  const std::string mine = dir_.File("mine");
  fs::create_directories(mine);
  ASSERT_TRUE(test::WriteFile(mine + "/temp.wav", "my sound"));
  ASSERT_TRUE(test::WriteFile(mine + "/temp000001.bmp", "my picture"));
  ASSERT_TRUE(test::WriteFile(dir_.File("victim.txt"), "precious"));
  for (const char* name : {"temp_sound.txt", "temp_encoder.txt", "temp_wav.fifo"}) {
    fs::create_symlink(dir_.File("victim.txt"), mine + "/" + name);
  }
  const test::RunResult own = Batch({"--convert", clip, dir_.File("own.mp4"), "--temp", mine});
  ASSERT_EQ(own.exit_code, 0) << own.errors;
  EXPECT_TRUE(test::ProbeMovie(dir_.File("own.mp4")).sound);
  EXPECT_EQ(test::ReadFile(mine + "/temp.wav"), "my sound");
  EXPECT_EQ(test::ReadFile(mine + "/temp000001.bmp"), "my picture");
  EXPECT_EQ(test::ReadFile(dir_.File("victim.txt")), "precious");
  EXPECT_EQ(Names(mine), (std::vector<std::string>{"temp.wav", "temp000001.bmp", "temp_encoder.txt",
                                                   "temp_sound.txt", "temp_wav.fifo"}));
}

TEST_F(BatchFilesTest, ATempFolderOnAReadOnlyFileSystemIsCalledSo) {
  const std::string clip = Clip("clip.mp4", 1);
  const std::string frozen = dir_.File("frozen");
  fs::create_directories(frozen);
  if (geteuid() != 0 || mount("tmpfs", frozen.c_str(), "tmpfs", MS_RDONLY, "size=1m") != 0) {
    GTEST_SKIP() << "needs root to mount a read-only file system";
  }
  const test::RunResult r = Batch({"--convert", clip, dir_.File("out.mp4"), "--temp", frozen});
  umount(frozen.c_str());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(Has(r.errors, "read-only")) << r.errors;
  EXPECT_FALSE(Has(r.errors, "in use")) << r.errors;
}

// An installed program whose home folder cannot be written: it says how to choose a
// temporary folder, and converts in the system's own meanwhile.
TEST_F(BatchFilesTest, AnUnwritableHomeFallsBackAndSuggestsTemp) {
  const std::string clip = Clip("clip.mp4", 1);
  const std::string prefix = dir_.File("prefix");
  fs::create_directories(prefix + "/bin");
  fs::create_directories(prefix + "/lib/zqrstereo");
  fs::copy_file(program_ + "/zqrstereo", prefix + "/bin/zqrstereo");
  for (const char* tool : {"ffmpeg", "ffmpeg_III"}) {
    fs::create_symlink(test::BinDir() + "/PLUG-IN/" + tool, prefix + "/lib/zqrstereo/" + tool);
  }
  ASSERT_TRUE(test::WriteFile(dir_.File("home"), "a file, not a folder"));
  std::vector<std::pair<std::string, std::string>> saved;
  for (const char* name :
       {"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
    const char* value = std::getenv(name);
    saved.emplace_back(name, value != nullptr ? value : "");
    unsetenv(name);
  }
  setenv("HOME", dir_.File("home").c_str(), 1);
  const test::RunResult r =
      test::Run({prefix + "/bin/zqrstereo", "--convert", clip, dir_.File("out.mp4")});
  for (const auto& [name, value] : saved) {
    if (value.empty()) {
      unsetenv(name.c_str());
    } else {
      setenv(name.c_str(), value.c_str(), 1);
    }
  }
  EXPECT_EQ(r.exit_code, 0) << r.errors;
  EXPECT_TRUE(Has(r.errors, "--temp")) << r.errors;
  EXPECT_TRUE(test::ProbeMovie(dir_.File("out.mp4")).sound);
}

// A killed run: the encoder does not finish the movie it was writing, and the next start
// removes that partial movie and the run's folder.
TEST_F(BatchFilesTest, AKilledRunLeavesNoFinishedMovieAndTheNextStartClearsUp) {
  const std::string clip = Clip("long.mp4", 30, "testsrc2=size=320x240:rate=30");
  const std::string out = dir_.File("out.mp4");
  std::string partial;
  std::vector<int> tools;
  const test::RunResult killed = Batch({"--convert", clip, out}, [&](int pid) {
    const std::string prefix = ".zqrstereo-" + std::to_string(pid) + "-";
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < deadline) {
      for (const std::string& name : Names(dir_.path())) {
        if (name.starts_with(prefix) && test::FileSize(dir_.File(name)) > 0) {
          partial = dir_.File(name);
        }
      }
      if (!partial.empty()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // Its tools, and theirs (the launcher runs ffmpeg as its child).
    for (int round = 0; round < 2; ++round) {
      for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string stat = test::ReadFile(entry.path().string() + "/stat");
        const size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        const int parent = std::atoi(stat.c_str() + close + 4);
        if (parent == pid || std::find(tools.begin(), tools.end(), parent) != tools.end()) {
          const int child = std::atoi(entry.path().filename().c_str());
          if (std::find(tools.begin(), tools.end(), child) == tools.end()) tools.push_back(child);
        }
      }
    }
    kill(pid, SIGKILL);
  });
  ASSERT_EQ(killed.exit_code, -1);
  ASSERT_FALSE(partial.empty());
  EXPECT_FALSE(tools.empty());
  // Left alone, an encoder would finish the movie: wait until none of them lives.
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  auto alive = [&] {
    for (int tool : tools) {
      const std::string stat = test::ReadFile("/proc/" + std::to_string(tool) + "/stat");
      const size_t close = stat.rfind(')');
      if (close != std::string::npos && stat[close + 2] != 'Z') return true;
    }
    return false;
  };
  while (alive() && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(alive());
  const test::RunResult probe = test::Run({"ffprobe", "-v", "error", partial});
  EXPECT_NE(probe.exit_code, 0) << "the killed run's movie was finished";
  ASSERT_EQ(Names(program_ + "/TEMP").size(), 1u);

  const test::RunResult next = Batch({"--convert", Clip("short.mp4", 1), dir_.File("next.mp4")});
  ASSERT_EQ(next.exit_code, 0) << next.errors;
  EXPECT_FALSE(test::FileExists(partial));
  EXPECT_EQ(Names(program_ + "/TEMP"), std::vector<std::string>{});
}

TEST_F(BatchFilesTest, AFifoForSettingsOrLogNeverHoldsTheRun) {
  const std::string clip = Clip("clip.mp4", 1);
  ASSERT_EQ(mkfifo((program_ + "/zqrstereo.ini").c_str(), 0600), 0);
  const test::RunResult settings = Batch({"--convert", clip, dir_.File("out.mp4")}, EndIfStuck);
  EXPECT_EQ(settings.exit_code, 0) << settings.errors;
  EXPECT_TRUE(test::FileExists(dir_.File("out.mp4")));

  ASSERT_EQ(mkfifo(dir_.File("log.fifo").c_str(), 0600), 0);
  const test::RunResult log =
      Batch({"--convert", clip, dir_.File("two.mp4"), "--log", dir_.File("log.fifo")}, EndIfStuck);
  EXPECT_EQ(log.exit_code, 1) << log.errors;
  EXPECT_TRUE(Has(log.errors, "log.fifo")) << log.errors;
  EXPECT_FALSE(test::FileExists(dir_.File("two.mp4")));
}

// Runs beside one that holds the usual log write logs of their own; old ones go at start.
TEST_F(BatchFilesTest, PerProcessLogsDoNotPileUp) {
  const auto now = fs::file_time_type::clock::now();
  for (int k = 0; k < 8; ++k) {
    const std::string name = program_ + "/zqrstereo." + std::to_string(900000 + k) + ".log";
    ASSERT_TRUE(test::WriteFile(name, "an earlier run\r\n"));
    fs::last_write_time(name, now - std::chrono::minutes(10 + k));
  }
  platform::HeldFile usual;
  ASSERT_EQ(usual.TryHold(program_ + "/zqrstereo.log"), platform::HeldFile::Result::kHeld);
  const test::RunResult r = Batch({"--convert", dir_.File("missing.mp4"), dir_.File("out.mp4")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(Has(r.errors, "this run's log is")) << r.errors;
  size_t logs = 0;
  for (const std::string& name : Names(program_)) {
    if (name.starts_with("zqrstereo.") && name.ends_with(".log") && name != "zqrstereo.log") ++logs;
  }
  EXPECT_LE(logs, 5u);  // the newest few, this run's among them
}

// The movie is written: standard output read by nobody does not turn that into a failure.
TEST_F(BatchFilesTest, NoReaderOnStandardOutputLeavesTheExitStatusToTheMovie) {
  const std::string clip = Clip("clip.mp4", 1);
  const std::string out = dir_.File("out.mp4");
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);  // `| true`: the reader has gone
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const std::string program = program_ + "/zqrstereo";
  std::vector<std::string> args = {program, "--convert", clip, out};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(test::ProbeMovie(out).sound);
}

}  // namespace
}  // namespace zqr
