// zqrstereo --convert where users lose data if anything is careless: names that are the
// input in another spelling, names with blanks, quotes and line breaks, names too long,
// links in the temporary folder, runs side by side, runs interrupted by a signal, inputs
// too small, cut short, or without sound. Each run uses a copy of the program, so its
// run log, probe files and temporary folder are the test's own.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "convert/temp_files.h"
#include "platform/files.h"
#include "tests/support/test_support.h"

namespace zqr {
namespace {

namespace fs = std::filesystem;

class BatchSafetyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = dir_.File("program");
    test::CopyProgram(program_);
  }
  std::string Clip(const std::string& name, const std::string& video, double seconds,
                   bool sound = true, const std::vector<std::string>& extra = {}) {
    const std::string path = dir_.File(name);
    EXPECT_TRUE(test::MakeClip(path, video, seconds,
                               sound ? "sine=frequency=440:sample_rate=44100" : "", extra));
    return path;
  }
  test::RunResult Batch(const std::vector<std::string>& args,
                        const std::function<void(int)>& meanwhile = nullptr) {
    return test::RunProgram(program_ + "/zqrstereo", args, meanwhile);
  }
  bool Logged(const std::string& text) const {
    return test::ReadFile(program_ + "/zqrstereo.log").find(text) != std::string::npos;
  }
  static std::string Contents(const std::string& path) { return test::ReadFile(path); }
  // Names left in a folder that are none of `known`.
  static std::vector<std::string> Others(const std::string& folder,
                                         const std::vector<std::string>& known) {
    std::vector<std::string> others;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (std::find(known.begin(), known.end(), name) == known.end()) others.push_back(name);
    }
    return others;
  }

  test::ScratchDir dir_;
  std::string program_;
};

TEST_F(BatchSafetyTest, NoSpellingOfTheInputNorAnyNearNameIsEverOverwritten) {
  const std::string clip = Clip("clip.mp4", "testsrc2=size=64x48:rate=30", 1);
  const std::string original = Contents(clip);
  fs::create_directories(dir_.File("sub"));
  fs::create_symlink(clip, dir_.File("link.mp4"));
  for (const std::string& same : {dir_.path() + "/./clip.mp4", dir_.path() + "/sub/../clip.mp4",
                                  "/" + dir_.File("clip.mp4"), dir_.File("link.mp4")}) {
    SCOPED_TRACE(same);
    const test::RunResult r = Batch({"--convert", clip, same});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.errors.find("the output file is the input file"), std::string::npos) << r.errors;
  }
  EXPECT_EQ(Contents(clip), original);

  // Blanks at the end make another, legal name: the file without them is left alone (here
  // the name is refused, as its extension is none the encoder writes), and an input with
  // them is the one converted (two seconds, not clip.mp4's one).
  ASSERT_TRUE(test::WriteFile(dir_.File("victim.mp4"), "mine"));
  fs::copy_file(Clip("two.mp4", "testsrc2=size=64x48:rate=30", 2), dir_.File("clip.mp4 "));
  EXPECT_EQ(Batch({"--convert", dir_.File("clip.mp4 "), dir_.File("victim.mp4 ")}).exit_code, 1);
  EXPECT_EQ(Contents(dir_.File("victim.mp4")), "mine");
  const test::RunResult blanks = Batch({"--convert", dir_.File("clip.mp4 "), dir_.File("o.mp4")});
  ASSERT_EQ(blanks.exit_code, 0) << blanks.errors;
  EXPECT_NEAR(test::ProbeMovie(dir_.File("o.mp4")).frames, 60, 1);

  // A name longer than 255 characters is refused, not cut into the name of another file.
  const std::string longest =
      dir_.path() + "/" + std::string(250 - dir_.path().size(), 'n') + "1234567890.mp4";
  const std::string cut = longest.substr(0, 255);
  ASSERT_TRUE(test::WriteFile(cut, "other"));
  const test::RunResult longer = Batch({"--convert", clip, longest});
  EXPECT_EQ(longer.exit_code, 1);
  EXPECT_NE(longer.errors.find("longer than 255"), std::string::npos) << longer.errors;
  EXPECT_EQ(Contents(cut), "other");

  // A quote in the output's name is refused before anything is recorded.
  const test::RunResult quote = Batch({"--convert", clip, dir_.File("a\"b.mp4")});
  EXPECT_EQ(quote.exit_code, 1);
  EXPECT_NE(quote.errors.find("double quote"), std::string::npos) << quote.errors;
  EXPECT_FALSE(Logged("Begin Convert Process"));
}

TEST_F(BatchSafetyTest, LinksInTheTemporaryFolderAreNeverWrittenThrough) {
  const std::string clip = Clip("clip.mp4", "testsrc2=size=64x48:rate=30", 1);
  const std::string temp = dir_.File("temp");
  fs::create_directories(temp);
  for (const char* name : {"temp000000.bmp", "temp.wav"}) {
    ASSERT_TRUE(test::WriteFile(dir_.File(std::string("victim-") + name), "precious"));
    fs::create_symlink(dir_.File(std::string("victim-") + name), temp + "/" + name);
  }
  // The run works in a folder of its own inside the one named: the links are not its files.
  const test::RunResult r = Batch({"--convert", clip, dir_.File("out.mp4"), "--temp", temp});
  EXPECT_EQ(r.exit_code, 0) << r.errors;
  for (const char* name : {"temp000000.bmp", "temp.wav"}) {
    EXPECT_EQ(Contents(dir_.File(std::string("victim-") + name)), "precious") << name;
    EXPECT_TRUE(fs::is_symlink(temp + "/" + name)) << name;  // not deleted through either
  }
  EXPECT_TRUE(test::FileExists(dir_.File("out.mp4")));
}

TEST_F(BatchSafetyTest, OddInputsConvertWithTheirSoundOrAreRefusedWithTheReason) {
  // Quotes and line breaks in the input's name: the sound comes along all the same.
  const std::string odd = dir_.File("my \"best\"\nclip.mp4");
  fs::copy_file(Clip("plain.mp4", "testsrc2=size=64x48:rate=30", 1), odd);
  const test::RunResult r = Batch({"--convert", odd, dir_.File("odd.mp4")});
  ASSERT_EQ(r.exit_code, 0) << r.errors;
  EXPECT_TRUE(test::ProbeMovie(dir_.File("odd.mp4")).sound);

  // A name that begins with "-" goes after "--".
  fs::copy_file(dir_.File("plain.mp4"), dir_.File("-dash.mp4"));
  const test::RunResult dash =
      Batch({"--convert", "--", dir_.File("-dash.mp4"), dir_.File("d.mp4")});
  EXPECT_EQ(dash.exit_code, 0) << dash.errors;

  const test::RunResult folder = Batch({"--convert", dir_.path(), dir_.File("f.mp4")});
  EXPECT_EQ(folder.exit_code, 1);
  EXPECT_NE(folder.errors.find("is a folder"), std::string::npos) << folder.errors;

  // 17 x 17 leaves one column after the frame files' crop: no movie of 0 x 16.
  const std::string tiny =
      Clip("tiny.mkv", "nullsrc=size=17x17:rate=30,format=yuv444p", 1, false, {"-c:v", "ffv1"});
  const test::RunResult small = Batch({"--convert", tiny, dir_.File("t.mp4")});
  EXPECT_EQ(small.exit_code, 1);
  EXPECT_NE(small.errors.find("too small"), std::string::npos) << small.errors;
  EXPECT_FALSE(Logged("Begin Convert Process"));
}

TEST_F(BatchSafetyTest, TheLastFractionOfASecondStaysWithOrWithoutSound) {
  // 2.5 s: the encoder used to stop at 2 s, and without sound its closed input counted as
  // a failure although the movie was there.
  const std::string silent = Clip("silent.mp4", "testsrc2=size=64x48:rate=30", 2.5, false);
  const std::string loud = Clip("loud.mp4", "testsrc2=size=64x48:rate=30", 2.5);
  for (const std::string extension : {"mp4", "avi"}) {
    SCOPED_TRACE(extension);
    const test::RunResult a = Batch({"--convert", silent, dir_.File("s." + extension)});
    ASSERT_EQ(a.exit_code, 0) << a.errors;
    EXPECT_NEAR(test::ProbeMovie(dir_.File("s." + extension)).frames, 75, 1);
  }
  const test::RunResult b = Batch({"--convert", loud, dir_.File("l.mp4")});
  ASSERT_EQ(b.exit_code, 0) << b.errors;
  const test::MovieFigures figures = test::ProbeMovie(dir_.File("l.mp4"));
  EXPECT_NEAR(figures.frames, 75, 1);
  EXPECT_NEAR(figures.duration, 2.5, 0.1);
  EXPECT_TRUE(figures.sound);
}

TEST_F(BatchSafetyTest, AVideoCutShortIsConvertedAsFarAsItGoesAndSaysSo) {
  const std::string whole =
      Clip("whole.mp4", "testsrc2=size=64x48:rate=30", 4, true, {"-movflags", "+faststart"});
  const std::string data = Contents(whole);
  const std::string cut = dir_.File("cut.mp4");
  ASSERT_TRUE(test::WriteFile(cut, data.substr(0, data.size() * 4 / 10)));
  const test::RunResult r = Batch({"--convert", cut, dir_.File("out.mp4")});
  ASSERT_EQ(r.exit_code, 0) << r.errors;
  EXPECT_NE(r.errors.find("warning: the video ended after"), std::string::npos) << r.errors;
  EXPECT_TRUE(Logged("Warning: the video ended after"));
  const test::MovieFigures figures = test::ProbeMovie(dir_.File("out.mp4"));
  EXPECT_LT(figures.frames, 100);
  // The sound lasts no longer than the picture.
  EXPECT_LT(figures.duration, figures.frames / 30.0 + 0.3);
}

TEST_F(BatchSafetyTest, AnEncoderThatFailsNamesTheCauseAndLeavesTheOldMovieAlone) {
  fs::remove(program_ + "/PLUG-IN/ffmpeg_III");
  ASSERT_TRUE(test::WriteFile(program_ + "/PLUG-IN/ffmpeg_III",
                              "#!/bin/sh\nfor last; do :; done\necho partial > \"$last\"\n"
                              "echo \"$last: No space left on device\" >&2\nexit 1\n"));
  fs::permissions(program_ + "/PLUG-IN/ffmpeg_III", fs::perms::owner_all);
  const std::string clip = Clip("clip.mp4", "testsrc2=size=64x48:rate=30", 1);
  fs::create_directories(dir_.File("out"));
  ASSERT_TRUE(test::WriteFile(dir_.File("out/movie.mp4"), "the old movie"));
  const test::RunResult r = Batch({"--convert", clip, dir_.File("out/movie.mp4")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.errors.find("No space left on device"), std::string::npos) << r.errors;
  EXPECT_EQ(Contents(dir_.File("out/movie.mp4")), "the old movie");
  EXPECT_EQ(Others(dir_.File("out"), {"movie.mp4"}), std::vector<std::string>{});
  EXPECT_EQ(Others(program_ + "/TEMP", {}), std::vector<std::string>{});
}

// The encoder starts on the sound while it is extracted; an extraction that fails after a
// while must still end the run with its own reason, not with a movie without sound.
TEST_F(BatchSafetyTest, ASoundTrackLostAfterTheEncoderStartedEndsTheRunWithItsReason) {
  fs::remove(program_ + "/PLUG-IN/ffmpeg");
  ASSERT_TRUE(test::WriteFile(program_ + "/PLUG-IN/ffmpeg",
                              "#!/bin/sh\nfor a; do [ \"$a\" = pcm_s16le ] && { sleep 0.5; "
                              "echo 'the sound track is damaged' >&2; exit 1; }; done\nexec \"" +
                                  test::BinDir() + "/PLUG-IN/ffmpeg\" \"$@\"\n"));
  fs::permissions(program_ + "/PLUG-IN/ffmpeg", fs::perms::owner_all);
  const std::string clip = Clip("clip.mp4", "testsrc2=size=64x48:rate=30", 2);
  const test::RunResult r = Batch({"--convert", clip, dir_.File("out.mp4")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.errors.find("the sound track is damaged"), std::string::npos) << r.errors;
  EXPECT_TRUE(Logged("The encoder reads the sound while it is extracted"));
  EXPECT_FALSE(test::FileExists(dir_.File("out.mp4")));
  EXPECT_EQ(Others(program_ + "/TEMP", {}), std::vector<std::string>{});
}

TEST_F(BatchSafetyTest, RunsSideBySideKeepTheirOwnRateLengthSoundAndLog) {
  struct Job {
    int rate;
    double seconds;
    std::string clip;
  };
  std::vector<Job> jobs = {{10, 2.0, ""}, {25, 1.2, ""}, {30, 1.0, ""}, {60, 0.5, ""}};
  for (Job& job : jobs) {
    job.clip = Clip("r" + std::to_string(job.rate) + ".mp4",
                    "testsrc2=size=64x48:rate=" + std::to_string(job.rate), job.seconds);
  }
  for (int round = 0; round < 2; ++round) {
    std::vector<std::future<test::RunResult>> runs;
    for (const Job& job : jobs) {
      // AVI keeps the clip's own rate, which the movie then shows.
      const std::string out = dir_.File("out" + std::to_string(job.rate) + ".avi");
      runs.push_back(std::async(std::launch::async, [this, job, out] {
        return Batch({"--convert", job.clip, out});
      }));
    }
    for (size_t k = 0; k < jobs.size(); ++k) {
      const Job& job = jobs[k];
      SCOPED_TRACE(std::to_string(job.rate) + " fps, round " + std::to_string(round));
      const test::RunResult r = runs[k].get();
      ASSERT_EQ(r.exit_code, 0) << r.errors;
      const test::MovieFigures figures =
          test::ProbeMovie(dir_.File("out" + std::to_string(job.rate) + ".avi"));
      EXPECT_NEAR(figures.frames, std::lround(job.rate * job.seconds), 1);
      EXPECT_NEAR(figures.duration, job.seconds, 0.1);
      EXPECT_TRUE(figures.sound);
      // The run's own log: the program's, or the one it named when another run held that.
      std::string log = program_ + "/zqrstereo.log";
      const std::string mark = "this run's log is ";
      if (const size_t at = r.errors.find(mark); at != std::string::npos) {
        log = r.errors.substr(at + mark.size(), r.errors.find('\n', at) - at - mark.size());
      }
      const std::string text = Contents(log);
      EXPECT_NE(text.find("Render file: " + job.clip), std::string::npos) << log;
      EXPECT_NE(text.find("Convert Movie End 2"), std::string::npos) << log;
    }
  }
  // No probe file of any run is left beside the program.
  for (const std::string& name : Others(program_, {"zqrstereo", "PLUG-IN", "TEMP"})) {
    EXPECT_TRUE(name.starts_with("zqrstereo.") && name.ends_with(".log")) << name;
  }
}

TEST_F(BatchSafetyTest, AnInterruptedRunLeavesNoMovieAndNoFolderBehind) {
  const std::string clip = Clip("clip.mp4", "testsrc2=size=640x480:rate=30", 8);
  // A folder of a run that was killed: made and marked by the program, its lock held by
  // nobody.
  fs::create_directories(program_ + "/TEMP");
  {
    platform::FolderLock lock;
    const std::string stale = MakeRunFolder(program_ + "/TEMP", lock, nullptr);
    ASSERT_FALSE(stale.empty());
    ASSERT_TRUE(test::WriteFile(stale + "/temp000001.bmp", "old frame"));
  }
  struct Case {
    int signal;
    const char* when;  // the log line after which it comes
  } cases[] = {{SIGINT, "Begin Convert Process"}, {SIGTERM, "ConvertRectExport Begin"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.when);
    if (c.signal == SIGTERM) {
      // An encoder that takes its time, so the signal meets it at work. It reads what it is
      // fed first: one that does not would stall the recording on a full pipe until it ends.
      fs::remove(program_ + "/PLUG-IN/ffmpeg_III");
      ASSERT_TRUE(test::WriteFile(program_ + "/PLUG-IN/ffmpeg_III",
                                  "#!/bin/sh\ncat >/dev/null\nexec sleep 30\n"));
      fs::permissions(program_ + "/PLUG-IN/ffmpeg_III", fs::perms::owner_all);
    }
    const test::RunResult r =
        Batch({"--convert", clip, dir_.File("out.mp4"), "--sharpen", "5"}, [&](int pid) {
          const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
          while (!Logged(c.when) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
          }
          kill(pid, c.signal);
        });
    EXPECT_EQ(r.exit_code, 128 + c.signal) << r.errors;
    EXPECT_FALSE(test::FileExists(dir_.File("out.mp4")));
    EXPECT_EQ(Others(dir_.path(), {"program", "clip.mp4"}), std::vector<std::string>{});
    EXPECT_EQ(Others(program_ + "/TEMP", {}), std::vector<std::string>{});  // the stale one too
  }
}

// Each run that cannot go as the user meant says what stood in its way, not a cause
// that only looks like it: a header claiming 1000 hours is no shortage of disk, a raw
// stream that names no length still has frames, a still picture is no video, a file-size
// or memory limit is named as one, a picture that starts late did not end early, and a
// name's last dot stays.
TEST_F(BatchSafetyTest, EachFailureNamesItsOwnCause) {
  const std::string six =
      Clip("six.flv", "testsrc2=size=160x120:rate=25", 6, true, {"-c:v", "flv1", "-c:a", "mp3"});
  std::string bytes = Contents(six);
  const size_t key = bytes.find("duration");
  ASSERT_NE(key, std::string::npos);
  const double hours = 1000.0 * 3600.0;  // the AMF double after the key, big-endian
  uint64_t bits = 0;
  std::memcpy(&bits, &hours, sizeof bits);
  for (int k = 0; k < 8; ++k) bytes[key + 9 + k] = static_cast<char>(bits >> (56 - 8 * k));
  ASSERT_TRUE(test::WriteFile(dir_.File("long.flv"), bytes));
  const test::RunResult flv = Batch({"--convert", dir_.File("long.flv"), dir_.File("flv.mp4")});
  EXPECT_EQ(flv.exit_code, 0) << flv.errors;
  EXPECT_EQ(flv.errors.find("free space"), std::string::npos) << flv.errors;
  EXPECT_NEAR(test::ProbeMovie(dir_.File("flv.mp4")).duration, 6.0, 0.3);

  const std::string raw = Clip("raw.h264", "testsrc2=size=160x120:rate=25", 2, false,
                               {"-c:v", "libx264", "-f", "h264"});
  const test::RunResult stream = Batch({"--convert", raw, dir_.File("raw.mp4")});
  EXPECT_EQ(stream.exit_code, 0) << stream.errors;
  EXPECT_NE(stream.errors.find("(50 frames)"), std::string::npos) << stream.errors;

  const std::string still = dir_.File("still.png");
  ASSERT_EQ(test::Run({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=160x120",
                       "-frames:v", "1", still})
                .exit_code,
            0);
  const test::RunResult picture = Batch({"--convert", still, dir_.File("still.mp4")});
  EXPECT_EQ(picture.exit_code, 1);
  EXPECT_NE(picture.errors.find("a single picture, not a video"), std::string::npos)
      << picture.errors;

  const std::string clip = Clip("clip.mp4", "testsrc2=size=160x120:rate=25", 4);
  const std::string program = program_ + "/zqrstereo";
  const test::RunResult sized =
      test::Run({"prlimit", "--fsize=204800", program, "--convert", clip, dir_.File("f.mp4")});
  EXPECT_EQ(sized.exit_code, 1);
  EXPECT_NE(sized.errors.find("files of at most 205 kB may be written (ulimit -f)"),
            std::string::npos)
      << sized.errors;
#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
  // (A sanitized program reserves far more address space than the limit before it starts.)
  const test::RunResult mapped =
      test::Run({"prlimit", "--as=300000000", program, "--convert", clip, dir_.File("v.mp4")});
  EXPECT_EQ(mapped.exit_code, 1);
  EXPECT_NE(mapped.errors.find("not enough memory"), std::string::npos) << mapped.errors;
  EXPECT_NE(mapped.errors.find("ulimit -v"), std::string::npos) << mapped.errors;
#endif

  // A picture from 2 s to 4 s under 4 s of sound: its first frame is held from the start.
  const std::string late = Clip("late.mp4", "testsrc2=size=160x120:rate=25", 4, true,
                                {"-vf", "setpts=PTS+2/TB", "-pix_fmt", "yuv420p"});
  const test::RunResult behind = Batch({"--convert", late, dir_.File("late_out.mp4")});
  EXPECT_EQ(behind.exit_code, 0) << behind.errors;
  EXPECT_EQ(behind.errors.find("warning"), std::string::npos) << behind.errors;
  EXPECT_NEAR(test::ProbeMovie(dir_.File("late_out.mp4")).duration, 4.0, 0.3);

  const test::RunResult dot = Batch({"--convert", clip, dir_.File("movie.")});
  EXPECT_EQ(dot.exit_code, 1);
  EXPECT_NE(dot.errors.find(dir_.File("movie.") + "; see"), std::string::npos) << dot.errors;
}

}  // namespace
}  // namespace zqr
