// zqrstereo --convert where the encoder's result or the clip's own figures could mislead: a
// full disk at OUT, an output folder renamed during the run, clips that hold more (or less)
// than they announce, and a sound track that cannot be decoded. Each run uses a copy of
// the program, so its run log and temporary folder are the test's own.
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

namespace zqr {
namespace {

namespace fs = std::filesystem;

// A small tmpfs for a full disk; mounted only by root, always unmounted.
class SmallDisk {
 public:
  SmallDisk(const std::string& folder, const std::string& size) : folder_(folder) {
    fs::create_directories(folder);
    mounted_ =
        geteuid() == 0 &&
        test::Run({"mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", folder}).exit_code == 0;
  }
  ~SmallDisk() {
    if (mounted_) test::Run({"umount", "-l", folder_});
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string folder_;
  bool mounted_ = false;
};

class BatchEncoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = dir_.File("program");
    test::CopyProgram(program_);
  }
  std::string Clip(const std::string& name, const std::string& video, double seconds,
                   const std::vector<std::string>& extra = {},
                   const std::string& sound = "sine=frequency=440:sample_rate=44100") {
    const std::string path = dir_.File(name);
    EXPECT_TRUE(test::MakeClip(path, video, seconds, sound, extra));
    return path;
  }
  test::RunResult Batch(const std::vector<std::string>& args,
                        const std::function<void(int)>& meanwhile = nullptr) {
    return test::RunProgram(program_ + "/zqrstereo", args, meanwhile);
  }
  std::string Log() const { return test::ReadFile(program_ + "/zqrstereo.log"); }
  // Whether a partial movie is in `folder`; with `begun`, one the encoder has written to.
  static bool HasPartial(const std::string& folder, bool begun = false) {
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (entry.path().filename().string().starts_with(".zqrstereo-") &&
          (!begun || test::FileSize(entry.path().string()) > 0)) {
        return true;
      }
    }
    return false;
  }

  test::ScratchDir dir_;
  std::string program_;
};

TEST_F(BatchEncoderTest, AFullDiskAtOutKeepsTheOldMovieAndSaysSo) {
  const std::string clip =
      Clip("clip.mp4", "testsrc2=size=320x240:rate=25", 3, {"-pix_fmt", "yuv420p"});
  // The old movie takes 130 kB of it; the new one needs more than the rest.
  SmallDisk disk(dir_.File("full"), "250k");
  if (!disk.mounted()) GTEST_SKIP() << "a tmpfs needs root";
  // ffmpeg ends with status 0 when the trailer finds no room, in MP4 as in Matroska.
  for (const char* name : {"old.mp4", "old.mkv"}) {
    SCOPED_TRACE(name);
    const std::string old = dir_.File("full/") + name;
    fs::copy_file(clip, old, fs::copy_options::overwrite_existing);
    const std::string before = test::ReadFile(old);
    const test::RunResult r = Batch({"--convert", clip, old});
    EXPECT_EQ(r.exit_code, 1) << r.errors;
    EXPECT_NE(r.errors.find("the disk is full"), std::string::npos) << r.errors;
    EXPECT_EQ(test::ReadFile(old), before);
    EXPECT_FALSE(HasPartial(dir_.File("full")));
    fs::remove(old);
  }
}

// The folder goes while the frames are recorded (the throttle makes that take 30 s): the
// run stops within a progress step, says why, and leaves nothing of the movie in the
// folder under its new name or in the one put in its place.
TEST_F(BatchEncoderTest, AnOutputFolderRenamedDuringTheRunEndsItEarly) {
  const std::string clip =
      Clip("clip.mp4", "testsrc2=size=160x120:rate=25", 12, {"-pix_fmt", "yuv420p"});
  for (const bool replaced : {false, true}) {
    SCOPED_TRACE(replaced ? "replaced" : "renamed");
    const std::string folder = dir_.File("movies");
    const std::string moved = dir_.File("movies-old");
    fs::remove_all(folder);
    fs::remove_all(moved);
    fs::create_directories(folder);
    if (replaced) {
      // An encoder slow to start opens the movie's name once the new folder is there, and
      // before the run looks at the folder again.
      const std::string encoder = program_ + "/PLUG-IN/ffmpeg_III";
      fs::remove(encoder);
      ASSERT_TRUE(test::WriteFile(encoder, "#!/bin/sh\nsleep 0.8\nexec " + test::BinDir() +
                                               "/PLUG-IN/ffmpeg_III \"$@\"\n"));
      fs::permissions(encoder, fs::perms::owner_all);
    }
    bool renamed = false;
    const test::RunResult r =
        Batch({"--convert", clip, folder + "/out.mp4", "--cpu", "90"}, [&](int) {
          for (int k = 0; k < 3000 && !renamed; ++k) {
            if (HasPartial(folder)) {
              std::this_thread::sleep_for(std::chrono::milliseconds(500));
              fs::rename(folder, moved);
              if (replaced) fs::create_directories(folder);
              renamed = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          }
        });
    ASSERT_TRUE(renamed);
    EXPECT_EQ(r.exit_code, 1) << r.errors;
    EXPECT_NE(r.errors.find("the folder " + folder +
                            " of the output file was renamed, replaced or removed"),
              std::string::npos)
        << r.errors;
    const std::string log = Log();
    const size_t delivered = log.find("Frames delivered ");
    ASSERT_NE(delivered, std::string::npos) << log;
    EXPECT_LT(std::stoi(log.substr(delivered + 17)), 200) << log;
    EXPECT_TRUE(fs::is_empty(moved));
    EXPECT_EQ(fs::exists(folder), replaced);
    if (replaced) {
      std::string left;
      for (const fs::directory_entry& e : fs::directory_iterator(folder)) {
        left += " " + e.path().filename().string();
      }
      EXPECT_EQ(left, "") << "left in the folder put in the output folder's place";
    }
  }
}

// An FLV whose header says 2 s over 6 s of frames, and two transport streams joined with
// cat: the movie is as long as what the file holds.
TEST_F(BatchEncoderTest, AClipHoldingMoreThanItAnnouncesIsConvertedWhole) {
  const std::string six =
      Clip("six.flv", "testsrc2=size=160x120:rate=25", 6, {"-c:v", "flv1", "-c:a", "mp3"});
  std::string bytes = test::ReadFile(six);
  const size_t key = bytes.find("duration");
  ASSERT_NE(key, std::string::npos);
  // The AMF number after the key: a type byte, then a big-endian double.
  const double two = 2.0;
  uint64_t bits = 0;
  std::memcpy(&bits, &two, sizeof bits);
  for (int k = 0; k < 8; ++k) bytes[key + 9 + k] = static_cast<char>(bits >> (56 - 8 * k));
  ASSERT_TRUE(test::WriteFile(dir_.File("two.flv"), bytes));

  const std::string part =
      Clip("part.ts", "testsrc2=size=160x120:rate=25", 3, {"-c:v", "mpeg2video", "-c:a", "mp2"});
  ASSERT_TRUE(test::WriteFile(dir_.File("joined.ts"), test::ReadFile(part) + test::ReadFile(part)));

  for (const auto& [input, seconds] :
       std::vector<std::pair<std::string, double>>{{"two.flv", 6.0}, {"joined.ts", 6.0}}) {
    SCOPED_TRACE(input);
    const std::string out = dir_.File(input + ".mp4");
    const test::RunResult r = Batch({"--convert", dir_.File(input), out});
    ASSERT_EQ(r.exit_code, 0) << r.errors;
    const test::MovieFigures movie = test::ProbeMovie(out);
    EXPECT_NEAR(movie.duration, seconds, 0.3);
    EXPECT_TRUE(movie.sound);
    EXPECT_NE(Log().find("more than the"), std::string::npos);
    EXPECT_NE(Log().find(" -t 00:00:06"), std::string::npos);
  }
}

// Two transport streams of other codecs on other PIDs joined with cat: only the first is
// decoded, and the run says plainly that the movie stops where it ends. Two video streams
// side by side (one a little longer) are no such change.
TEST_F(BatchEncoderTest, AClipWhoseCodecChangesMidStreamSaysTheMovieStopsThere) {
  const std::string first = Clip("h264.ts", "testsrc=size=160x120:rate=25", 3,
                                 {"-c:v", "libx264", "-pix_fmt", "yuv420p"}, "");
  const std::string second = Clip("mpeg2.ts", "testsrc2=size=160x120:rate=25", 3,
                                  {"-c:v", "mpeg2video", "-streamid", "0:0x200"}, "");
  ASSERT_TRUE(
      test::WriteFile(dir_.File("joined.ts"), test::ReadFile(first) + test::ReadFile(second)));
  const test::RunResult joined = Batch({"--convert", dir_.File("joined.ts"), dir_.File("j.mp4")});
  EXPECT_NE(joined.errors.find("warning: the video goes on in another stream (mpeg2video"),
            std::string::npos)
      << joined.errors;
  EXPECT_NE(joined.errors.find("the movie stops after 75 frames"), std::string::npos)
      << joined.errors;
  EXPECT_NE(Log().find("Warning: the video goes on in another stream"), std::string::npos);

  const std::string side = dir_.File("side.mkv");
  ASSERT_EQ(test::Run({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                       "testsrc=size=160x120:rate=25:duration=3", "-f", "lavfi", "-i",
                       "testsrc2=size=160x120:rate=25:duration=3.4", "-map", "0", "-map", "1",
                       "-c:v", "libx264", side})
                .exit_code,
            0);
  const test::RunResult both = Batch({"--convert", side, dir_.File("s.mp4")});
  EXPECT_EQ(both.exit_code, 0) << both.errors;
  EXPECT_EQ(both.errors.find("warning"), std::string::npos) << both.errors;
}

// A picture of 2 s under a minute of sound, and a clip whose timestamps start at 100 s:
// their length is the picture's, for the warning and for the room the run needs.
TEST_F(BatchEncoderTest, ALongSoundOrALateStartIsNoLongerPicture) {
  // MP4 gives each stream's length; Matroska only in a tag.
  const std::string long_sound =
      Clip("long.mp4", "testsrc2=size=160x120:rate=25:duration=2", 60, {"-pix_fmt", "yuv420p"},
           "sine=frequency=440:sample_rate=44100:duration=60");
  const std::string long_mkv =
      Clip("long.mkv", "testsrc2=size=160x120:rate=25:duration=2", 60, {"-pix_fmt", "yuv420p"},
           "sine=frequency=440:sample_rate=44100:duration=60");
  const std::string late = Clip("late.mkv", "testsrc2=size=160x120:rate=25", 2,
                                {"-pix_fmt", "yuv420p", "-output_ts_offset", "100"});
  SmallDisk disk(dir_.File("temp"), "3m");
  if (!disk.mounted()) GTEST_SKIP() << "a tmpfs needs root";
  for (const std::string& clip : {long_sound, long_mkv, late}) {
    SCOPED_TRACE(clip);
    const std::string out = clip + ".mp4";
    // A minute of sound would need 11 MB there; two seconds need far less than 3.
    const test::RunResult r = Batch({"--convert", clip, out, "--temp", dir_.File("temp")});
    ASSERT_EQ(r.exit_code, 0) << r.errors;
    EXPECT_EQ(r.errors.find("warning"), std::string::npos) << r.errors;
    EXPECT_NEAR(test::ProbeMovie(out).duration, 2.0, 0.1);
  }
}

// Transport-stream packets of the sound's PID filled with noise past their headers: the
// track is there, but no decoder can make anything of it.
TEST_F(BatchEncoderTest, ASoundTrackThatCannotBeDecodedFailsTheRun) {
  const std::string good =
      Clip("good.ts", "testsrc2=size=160x120:rate=25", 2, {"-c:v", "mpeg2video", "-c:a", "mp2"});
  std::string bytes = test::ReadFile(good);
  uint32_t noise = 12345;
  for (size_t at = 0; at + 188 <= bytes.size(); at += 188) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    if ((((p[1] & 0x1f) << 8) | p[2]) != 0x101) continue;
    size_t from = at + 4;
    if ((p[3] & 0x20) != 0) from += 1 + p[4];
    if ((p[1] & 0x40) != 0) from += 14;  // the PES header stays
    for (size_t k = from; k < at + 188; ++k) {
      noise = noise * 1103515245 + 12345;
      bytes[k] = static_cast<char>(noise >> 16);
    }
  }
  ASSERT_TRUE(test::WriteFile(dir_.File("bad.ts"), bytes));
  const std::string out = dir_.File("bad.mp4");
  const test::RunResult r = Batch({"--convert", dir_.File("bad.ts"), out});
  EXPECT_EQ(r.exit_code, 1) << r.errors;
  EXPECT_NE(r.errors.find("the sound track cannot be decoded"), std::string::npos) << r.errors;
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace
}  // namespace zqr
