// Whole conversions in this process, through the same path the window's commands take:
// the loader on its own thread answers the open dialog, ChooseOutputFile the save dialog,
// and the driver records, exports and cleans up. Clips are tiny and generated here.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/commands.h"
#include "app/output_file.h"
#include "app/window_layout.h"
#include "app/window_observer.h"
#include "convert/convert_movie.h"
#include "convert/convert_state.h"
#include "core/control_ids.h"
#include "core/run_log.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "frames/frame_file.h"
#include "frames/layouts.h"
#include "platform/ffmpeg/ffmpeg_graph.h"
#include "platform/headless/headless_ui.h"
#include "platform/ui.h"
#include "tests/frames/reference_pipeline.h"
#include "tests/support/test_support.h"
#include "video/frame_callback.h"
#include "video/frame_store.h"
#include "video/graph.h"
#include "video/load.h"
#include "video/video_state.h"

namespace zqr {
namespace {

using platform::HeadlessUi;

int CountFiles(const std::string& folder, const std::string& suffix) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.size() >= suffix.size() && name.ends_with(suffix)) ++count;
  }
  return count;
}

class ConvertMovieTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    platform::InstallFfmpegMedia();
    SetGraphSettleMs(0);
    SetProgramLocation(test::BinDir() + "/zqrstereo");
    SetLogFile(dir_.File("run.log"));
    temp_ = dir_.File("temp");
    std::filesystem::create_directories(temp_);
    Shell.TempFolder = temp_;
    ResetSettingsToStartValues();
    Settings.SharpenAmount = 1;
    Settings.CompressionValue = 0;
    Conversion.KeepWorkFiles = 0;
    Conversion.StopRequested = 0;
    ui().Clear();
    ui().SetDefaultAnswer(platform::kIdCancel);
  }
  void TearDown() override {
    Video.PlayState = 0;
    if (loader_.joinable()) loader_.join();
    Conversion.KeepWorkFiles = 0;
    Conversion.StopRequested = 0;
    SetLogFile("");
  }
  static HeadlessUi& ui() { return dynamic_cast<HeadlessUi&>(platform::CurrentUi()); }

  std::string Clip(const std::string& name, const std::vector<std::string>& extra = {},
                   const std::string& video = "testsrc2=size=64x48:rate=30", double seconds = 1) {
    const std::string path = dir_.File(name);
    EXPECT_TRUE(
        test::MakeClip(path, video, seconds, "sine=frequency=440:sample_rate=44100", extra));
    return path;
  }
  // The loaded video announces `count` frames, whatever its graph found.
  static void AnnounceFrames(int32_t count) {
    const std::shared_ptr<LoadedVideo> video = CurrentLoadedVideo();
    VideoFigures figures = video->figures();
    figures.numframes = count;
    video->SetFigures(figures);
  }
  // The Load command: the loader plays the clip until the conversion ends.
  void Load(const std::string& clip) {
    ui().QueueFileDialogAnswer(clip);
    loaded_ = false;
    loader_ = std::thread([this] {
      GetMultipleFiles(dir_.path(), 0, WindowObserver());
      loaded_ = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!(CurrentGraph() && Video.PlayState == 1) && !loaded_ &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(CurrentGraph() && Video.PlayState == 1) << "the clip does not play";
  }
  // The Convert command with `output` answered in the save dialog.
  ConversionReport Convert(const std::string& output) {
    ui().QueueFileDialogAnswer(output);
    ChooseOutputFile(dir_.path(), 0);
    Video.PlayState = 0;
    loader_.join();
    return LastConversionReport();
  }
  void ExpectTempEmpty() {
    EXPECT_EQ(CountFiles(temp_, ".bmp"), 0);
    EXPECT_EQ(CountFiles(temp_, ".wav"), 0);
    EXPECT_EQ(CountFiles(temp_, ".txt"), 0);  // the encoder's messages
  }
  bool Logged(const std::string& text) {
    return test::ReadFile(dir_.File("run.log")).find(text) != std::string::npos;
  }
  // Frame files that take `milliseconds` each to write, so the recording lasts a while.
  static void SlowFrameFiles(int milliseconds) {
    frames::FrameFileWriter::Options slow;
    slow.write = [milliseconds](const std::string& path, int32_t width, int32_t height,
                                const uint32_t* pixels, int32_t stride) {
      std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
      return frames::WriteFrameFileNow(path, width, height, pixels, stride);
    };
    ConfigureFrameFileWriters(slow);
  }
  // Loads a 4-s clip and converts it into out.mp4 with frame files that take 20 ms each, so
  // that the recording is still going when the encoder fed while recording starts;
  // `action` runs then.
  ConversionReport ConvertWhileTheEncoderIsFed(const std::function<void()>& action) {
    Load(Clip("clip.mp4", {}, "testsrc2=size=64x48:rate=30", 4));
    if (::testing::Test::HasFatalFailure()) return {};
    SlowFrameFiles(20);
    std::thread when_fed([this, &action] {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (!Logged("Encoding while recording") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      action();
    });
    const ConversionReport report = Convert(dir_.File("out.mp4"));
    when_fed.join();
    ConfigureFrameFileWriters({});
    return report;
  }

  test::ScratchDir dir_;
  test::ProgramLocationGuard location_;
  std::string temp_;
  std::thread loader_;
  std::atomic<bool> loaded_{false};
};

TEST_F(ConvertMovieTest, OpenDialogOffersItsFiltersAndFollowsTheChosenFolder) {
  const std::string clip = Clip("clip.mp4");
  ASSERT_NO_FATAL_FAILURE(Load(clip));
  const auto requests = ui().FileDialogRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].title, "Load VIDEO");
  EXPECT_EQ(requests[0].filters, OpenDialogFilters());
  EXPECT_FALSE(requests[0].save);
  EXPECT_EQ(Shell.VideoFolder, dir_.path());
  EXPECT_EQ(CurrentVideo(), clip);
  // A second Load while the first dialog would be open does nothing.
  ASSERT_TRUE(Loader.OpenDialogBusy.compare_exchange(0, 1));
  EXPECT_EQ(GetMultipleFiles(dir_.path(), 0, WindowObserver()), "");
  EXPECT_EQ(ui().FileDialogRequests().size(), 1u);
  Loader.OpenDialogBusy = 0;
}

TEST_F(ConvertMovieTest, FrameFilesEqualTheFrameCoreOnALosslessClip) {
  const std::string clip =
      Clip("lossless.mkv", {"-c:v", "libx264rgb", "-qp", "0", "-pix_fmt", "bgr0"},
           "testsrc2=size=64x48:rate=30", 0.5);
  // The red/cyan merge, then other layouts: the frame step, the previous frame of the
  // dynamic mode and the crop of each view, frame by frame.
  for (const frames::OutputLayout layout :
       {frames::OutputLayout::kAnaglyph, frames::OutputLayout::kSbs, frames::OutputLayout::kHalfTab,
        frames::OutputLayout::kDubois}) {
    SCOPED_TRACE(std::string(frames::LayoutName(layout)));
    ResetSettingsToStartValues();
    Settings.Layout = static_cast<int32_t>(layout);
    Settings.StereoOn = 1;
    Settings.DepthOn = 1;
    Settings.SharpenAmount = 2;
    Settings.SharpenRadius = 1;
    Settings.BrightnessOn = 1;
    Settings.Brightness = 150;
    Settings.NoiseOn = 1;
    Settings.NoisePasses = 1;
    Conversion.KeepWorkFiles = 1;
    ASSERT_NO_FATAL_FAILURE(Load(clip));
    const ConversionReport report = Convert(dir_.File("out.mkv"));
    ASSERT_TRUE(report.movie_written) << report.failure;

    // The clip's pixels, bottom row first, as the graph delivers them.
    const test::RunResult raw = test::Run({"ffmpeg", "-v", "error", "-i", clip, "-vf", "vflip",
                                           "-pix_fmt", "bgra", "-f", "rawvideo", "-"});
    ASSERT_EQ(raw.exit_code, 0);
    const size_t frame_bytes = 64 * 48 * 4;
    const int frames = static_cast<int>(raw.output.size() / frame_bytes);
    ASSERT_EQ(frames, 15);
    EXPECT_EQ(CountFiles(temp_, ".bmp"), frames);
    ReferencePipeline reference(64, 48, layout);
    for (int k = 0; k < frames; ++k) {
      std::vector<uint32_t> delivered(64 * 48);
      std::memcpy(delivered.data(), raw.output.data() + k * frame_bytes, frame_bytes);
      const std::vector<uint32_t> expected = reference.Frame(delivered);
      const std::string file = test::ReadFile(frames::FrameFileName(temp_, k));
      ASSERT_EQ(file.size(), 54 + expected.size() * 4) << k;
      EXPECT_EQ(std::memcmp(file.data() + 54, expected.data(), expected.size() * 4), 0)
          << "frame " << k;
    }
    const frames::LayoutSize size = frames::LayoutOutputSize(layout, 48, 48);
    const test::MovieFigures movie = test::ProbeMovie(dir_.File("out.mkv"));
    EXPECT_EQ(movie.width, size.width);
    EXPECT_EQ(movie.height, size.height);
    std::filesystem::remove_all(temp_);
    std::filesystem::create_directories(temp_);
  }
}

TEST_F(ConvertMovieTest, StopDuringRecordingExportsNothingAndLeavesNoFiles) {
  const std::string clip = Clip("clip.mp4");
  ASSERT_NO_FATAL_FAILURE(Load(clip));
  Conversion.StopRequested = 1;  // the Stop command, pressed as the recording starts
  ui().QueueFileDialogAnswer(dir_.File("out.mp4"));
  ChooseOutputFile(dir_.path(), 0);
  // The clip stays loaded with its figures, and plays again from its start.
  std::shared_ptr<platform::MediaGraph> graph = CurrentGraph();
  ASSERT_NE(graph, nullptr);
  EXPECT_EQ(Video.PlayState, 1);
  EXPECT_EQ(ui().GetLabel(303), " " + clip + " ");
  EXPECT_EQ(ui().GetLabel(304), "64x48");
  graph->Run();
  platform::RefTime position = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (position == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    graph->GetCurrentPosition(&position);
  }
  EXPECT_GT(position, 0);
  graph.reset();
  Video.PlayState = 0;
  loader_.join();
  const ConversionReport report = LastConversionReport();
  EXPECT_FALSE(report.recorded);
  EXPECT_EQ(report.exports, 0);
  EXPECT_EQ(ui().ProgressShows(), 0);
  EXPECT_FALSE(test::FileExists(dir_.File("out.mp4")));
  EXPECT_EQ(Conversion.StopRequested, 0);
  EXPECT_EQ(Video.Converting, 0);
  ExpectTempEmpty();
}

TEST_F(ConvertMovieTest, StopWhileTheEncoderIsFedLeavesNoPartOfAMovie) {
  const ConversionReport report = ConvertWhileTheEncoderIsFed([] { Conversion.StopRequested = 1; });
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_FALSE(report.recorded);
  EXPECT_EQ(report.exports, 0);
  EXPECT_TRUE(Logged("Encoding while recording stopped"));
  EXPECT_FALSE(test::FileExists(dir_.File("out.mp4")));
  ExpectTempEmpty();
}

// One picture as 24-bit RGB, top line first, decoded by ffmpeg.
std::string DecodedRgb(const std::string& path, int frame) {
  const test::RunResult run = test::Run(
      {"ffmpeg", "-v", "error", "-i", path, "-vf", "select=eq(n\\," + std::to_string(frame) + ")",
       "-frames:v", "1", "-pix_fmt", "rgb24", "-f", "rawvideo", "-"});
  return run.output;
}

double MeanDifference(const std::string& a, const std::string& b, bool flip_b, int row_bytes) {
  if (a.size() != b.size() || a.empty()) return 1e9;
  const size_t rows = a.size() / static_cast<size_t>(row_bytes);
  double sum = 0;
  for (size_t y = 0; y < rows; ++y) {
    const size_t yb = flip_b ? rows - 1 - y : y;
    for (int x = 0; x < row_bytes; ++x) {
      sum += std::abs(static_cast<uint8_t>(a[y * row_bytes + x]) -
                      static_cast<uint8_t>(b[yb * row_bytes + x]));
    }
  }
  return sum / static_cast<double>(a.size());
}

TEST_F(ConvertMovieTest, TheMovieMadeWhileRecordingShowsTheFramesUprightAndInColour) {
  Conversion.KeepWorkFiles = 1;
  Settings.CompressionValue = 1;  // best quality, so the comparison sees the picture
  const ConversionReport report = ConvertWhileTheEncoderIsFed([] {});
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(report.movie_written) << report.failure;
  ASSERT_TRUE(Logged("Encoding while recording"));
  const std::string movie = DecodedRgb(dir_.File("out.mp4"), 60);
  const std::string file = DecodedRgb(frames::FrameFileName(temp_, 60), 0);
  const double upright = MeanDifference(movie, file, false, 48 * 3);
  const double flipped = MeanDifference(movie, file, true, 48 * 3);
  EXPECT_LT(upright, 15.0) << upright << " flipped " << flipped;
  EXPECT_LT(upright * 4, flipped);
  // Colours: the same picture with red and blue swapped is far off too.
  std::string swapped = file;
  for (size_t i = 0; i + 2 < swapped.size(); i += 3) std::swap(swapped[i], swapped[i + 2]);
  EXPECT_LT(upright * 4, MeanDifference(movie, swapped, false, 48 * 3));
}

TEST_F(ConvertMovieTest, SettingsChangedWhileRecordingAreTheOnesTheMovieGets) {
  const ConversionReport report = ConvertWhileTheEncoderIsFed([] { Settings.ResizeMode = 5; });
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(report.movie_written) << report.failure;
  EXPECT_TRUE(Logged("The settings changed while recording"));
  const test::MovieFigures movie = test::ProbeMovie(dir_.File("out.mp4"));
  EXPECT_EQ(movie.width, 16);  // 48 x 0.5 to a multiple of 16: the new setting
  EXPECT_NEAR(movie.frames, 120, 1);
  ExpectTempEmpty();
}

TEST_F(ConvertMovieTest, SlidersMovedDuringTheRecordingNeverTearAFrame) {
  // The window moves Sharpen between two settings while the frames are recorded: A by the
  // Reset button (amount 1, radius 0), B by its two sliders in one change (5, 3), with a
  // pause between the two moves as a busy window might make. Every frame file must be the
  // frame step on A or on B, never (5, 0).
  Conversion.KeepWorkFiles = 1;
  const std::string clip =
      Clip("lossless.mkv", {"-c:v", "libx264rgb", "-qp", "0", "-pix_fmt", "bgr0"},
           "testsrc2=size=64x48:rate=30", 2);
  ASSERT_NO_FATAL_FAILURE(Load(clip));
  SlowFrameFiles(10);
  std::atomic<bool> done{false};
  std::thread window([&done] {
    while (!done) {
      HandleCommand(kIdResetSharpen, platform::kNotifyClick);
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
      {
        SettingsChange change;
        HandleSlider(kIdSharpenAmount, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        HandleSlider(kIdSharpenRadius, 3);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
  });
  const ConversionReport report = Convert(dir_.File("out.mp4"));
  done = true;
  window.join();
  ConfigureFrameFileWriters({});
  ASSERT_TRUE(report.recorded) << report.failure;

  const test::RunResult raw = test::Run({"ffmpeg", "-v", "error", "-i", clip, "-vf", "vflip",
                                         "-pix_fmt", "bgra", "-f", "rawvideo", "-"});
  const size_t frame_bytes = 64 * 48 * 4;
  ASSERT_EQ(raw.output.size(), 60 * frame_bytes);
  ReferencePipeline on_a(64, 48);
  ReferencePipeline on_b(64, 48);
  int frames_a = 0;
  int frames_b = 0;
  for (int k = 0; k < 60; ++k) {
    std::vector<uint32_t> delivered(64 * 48);
    std::memcpy(delivered.data(), raw.output.data() + k * frame_bytes, frame_bytes);
    Settings.SharpenAmount = 1;
    Settings.SharpenRadius = 0;
    const std::vector<uint32_t> a = on_a.Frame(delivered);
    Settings.SharpenAmount = 5;
    Settings.SharpenRadius = 3;
    const std::vector<uint32_t> b = on_b.Frame(delivered);
    const std::string file = test::ReadFile(frames::FrameFileName(temp_, k));
    ASSERT_EQ(file.size(), 54 + a.size() * 4) << k;
    const bool is_a = std::memcmp(file.data() + 54, a.data(), a.size() * 4) == 0;
    const bool is_b = std::memcmp(file.data() + 54, b.data(), b.size() * 4) == 0;
    EXPECT_TRUE(is_a || is_b) << "frame " << k << " mixes two settings";
    frames_a += is_a ? 1 : 0;
    frames_b += is_b ? 1 : 0;
  }
  // The sliders really moved during the recording.
  EXPECT_GT(frames_a, 0);
  EXPECT_GT(frames_b, 0);
}

TEST_F(ConvertMovieTest, AnotherCompressionEncodesTheSameRecordingAgain) {
  ASSERT_NO_FATAL_FAILURE(Load(Clip("clip.mp4")));
  ui().QueueMessageAnswer(platform::kIdOk);  // yes, another compression
  HeadlessUi::CompressionAnswer again;
  again.resize_index = 1;  // "Resize 90%"
  again.compression_index = 7;
  again.save = true;
  again.path = dir_.File("second.avi");
  ui().QueueAnotherCompressionAnswer(again);
  const ConversionReport report = Convert(dir_.File("first.flv"));
  EXPECT_TRUE(report.movie_written) << report.failure;
  EXPECT_EQ(report.exports, 2);
  EXPECT_EQ(report.output_name, dir_.File("second.avi"));
  const test::MovieFigures first = test::ProbeMovie(dir_.File("first.flv"));
  const test::MovieFigures second = test::ProbeMovie(dir_.File("second.avi"));
  EXPECT_EQ(first.width, 48);
  EXPECT_EQ(second.width, 32);  // 48 x 0.9 to a multiple of 16
  EXPECT_NEAR(second.frames, first.frames, 1);
  EXPECT_TRUE(second.sound);
  EXPECT_EQ(Settings.ResizeMode, 1);
  EXPECT_EQ(Settings.CompressionValue, 7);
  // Recorded once: one graph run, two encoder runs.
  const std::string log = test::ReadFile(dir_.File("run.log"));
  EXPECT_EQ(log.find("Begin Convert Process"), log.rfind("Begin Convert Process"));
  ExpectTempEmpty();
}

TEST_F(ConvertMovieTest, RefusalsLeaveThePlaybackUsable) {
  const std::string clip = Clip("clip.mp4");
  ASSERT_NO_FATAL_FAILURE(Load(clip));
  ui().QueueFileDialogAnswer(dir_.path() + "/.//clip.mp4");  // the input, spelt otherwise
  ChooseOutputFile(dir_.path(), 0);
  ui().QueueFileDialogAnswer(dir_.File("no such folder/out.mp4"));
  ChooseOutputFile(dir_.path(), 0);
  ui().QueueFileDialogAnswer(dir_.File("out.xyz"));
  ChooseOutputFile(dir_.path(), 0);
  const auto messages = ui().Messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0].text, "Incorrect name of output file\r\nIt is the VIDEO being converted.");
  EXPECT_NE(messages[1].text.find("does not exist"), std::string::npos);
  EXPECT_NE(messages[2].text.find(".webm"), std::string::npos);
  for (const auto& m : messages) EXPECT_EQ(m.caption, "Error Monitoring");
  EXPECT_EQ(Video.Converting, 0);
  EXPECT_NE(CurrentGraph(), nullptr);  // the video is still loaded, its figures shown
  EXPECT_EQ(ui().GetLabel(303), " " + clip + " ");
  // A cancelled save dialog keeps it too, without a word.
  ChooseOutputFile(dir_.path(), 0);
  EXPECT_EQ(ui().Messages().size(), 3u);
  EXPECT_NE(CurrentGraph(), nullptr);
  EXPECT_EQ(Video.PlayState, 1);
  Video.PlayState = 0;
  loader_.join();
  EXPECT_EQ(CurrentGraph(), nullptr);
}

TEST_F(ConvertMovieTest, FramesWithAGapAreRepeatedSoPictureAndSoundKeepStep) {
  // 2 s at 30 fps with frames 10 to 39 missing: 30 frames arrive, 60 slots are filled.
  Conversion.KeepWorkFiles = 1;
  const std::string clip = Clip("gap.mkv",
                                {"-vf", "select='lt(n\\,10)+gte(n\\,40)'", "-fps_mode", "vfr",
                                 "-c:v", "libx264rgb", "-qp", "0"},
                                "testsrc2=size=64x48:rate=30", 2);
  ASSERT_NO_FATAL_FAILURE(Load(clip));
  const ConversionReport report = Convert(dir_.File("gap.mp4"));
  ASSERT_TRUE(report.movie_written) << report.failure;
  EXPECT_EQ(report.frames_delivered, 30);
  EXPECT_NEAR(report.frame_files, 60, 1);
  // A repeat is the same file as the frame before the gap.
  EXPECT_EQ(test::ReadFile(frames::FrameFileName(temp_, 9)),
            test::ReadFile(frames::FrameFileName(temp_, 25)));
  EXPECT_NE(test::ReadFile(frames::FrameFileName(temp_, 9)),
            test::ReadFile(frames::FrameFileName(temp_, 40)));
  EXPECT_NEAR(test::ProbeMovie(dir_.File("gap.mp4")).frames, 60, 1);
  // The counter's last figure is the movie's, not the decoded frames'.
  std::string counted;
  for (const auto& [id, text] : ui().LabelHistory()) {
    if (id == kIdFramesDoneLabel && !text.empty()) counted = text;
  }
  EXPECT_NEAR(std::stoi(counted), 60, 1);
}

TEST_F(ConvertMovieTest, AFailingEncoderIsReportedAndStillOffersAnotherCompression) {
  // A program folder whose encoder tool always fails.
  const std::string program = dir_.File("program");
  std::filesystem::create_directories(program + "/PLUG-IN");
  std::filesystem::create_symlink(test::BinDir() + "/PLUG-IN/ffmpeg", program + "/PLUG-IN/ffmpeg");
  ASSERT_TRUE(
      test::WriteFile(program + "/PLUG-IN/ffmpeg_III", "#!/bin/sh\necho broken >&2\nexit 3\n"));
  std::filesystem::permissions(program + "/PLUG-IN/ffmpeg_III", std::filesystem::perms::owner_all);
  SetProgramLocation(program + "/zqrstereo");
  SetLogFile(dir_.File("run.log"));
  Shell.TempFolder = temp_;
  const std::string clip = Clip("clip.mp4");
  ASSERT_NO_FATAL_FAILURE(Load(clip));
  const ConversionReport report = Convert(dir_.File("out.mp4"));
  EXPECT_TRUE(report.recorded);
  EXPECT_FALSE(report.movie_written);
  // The clip was still loaded after the failure, with its figures shown.
  EXPECT_EQ(ui().GetLabel(303), " " + clip + " ");
  EXPECT_EQ(ui().GetLabel(306), "30");
  EXPECT_EQ(report.exports, 1);
  const auto messages = ui().Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().caption, "Error Monitoring");
  EXPECT_NE(messages.back().text.find(dir_.File("out.mp4")), std::string::npos);
  EXPECT_NE(messages.back().text.find("another compression"), std::string::npos);
  EXPECT_TRUE(Logged("FFMPEG says: broken"));
  ExpectTempEmpty();
}

TEST_F(ConvertMovieTest, AFullDiskEndsTheRunWithAMessageAndAnEmptyFolder) {
  // The writers' disk fills after five files.
  std::atomic<int> written{0};
  frames::FrameFileWriter::Options options;
  options.write = [&written](const std::string& path, int32_t width, int32_t height,
                             const uint32_t* pixels, int32_t stride) {
    if (written.fetch_add(1) >= 5) return false;
    return frames::WriteFrameFileNow(path, width, height, pixels, stride);
  };
  ConfigureFrameFileWriters(options);
  ASSERT_NO_FATAL_FAILURE(Load(Clip("clip.mp4")));
  const ConversionReport report = Convert(dir_.File("out.mp4"));
  ConfigureFrameFileWriters({});
  EXPECT_FALSE(report.recorded);
  EXPECT_EQ(report.exports, 0);
  EXPECT_GT(report.failed_frame_files, 0);
  EXPECT_NE(report.failure.find("disk full"), std::string::npos);
  ASSERT_FALSE(ui().Messages().empty());
  EXPECT_NE(ui().Messages().back().text.find("could not be written"), std::string::npos);
  EXPECT_FALSE(test::FileExists(dir_.File("out.mp4")));
  ExpectTempEmpty();
}

TEST_F(ConvertMovieTest, NotEnoughFreeSpaceIsRefusedWithBothFigures) {
  ASSERT_NO_FATAL_FAILURE(Load(Clip("clip.mp4")));
  // A video claiming two billion frames needs some 20 TB of frame files.
  AnnounceFrames(2000000000);
  ui().QueueFileDialogAnswer(dir_.File("out.mp4"));
  ChooseOutputFile(dir_.path(), 0);
  const ConversionReport report = LastConversionReport();
  EXPECT_NE(report.failure.find("not enough free space"), std::string::npos) << report.failure;
  ASSERT_EQ(ui().Messages().size(), 1u);
  const std::string text = ui().Messages()[0].text;
  EXPECT_NE(text.find("needs about 185400"), std::string::npos) << text;
  EXPECT_NE(text.find("MB are free"), std::string::npos) << text;
  EXPECT_EQ(Video.Converting, 0);
  EXPECT_NE(CurrentGraph(), nullptr);  // still loaded, ready for another try
}

TEST_F(ConvertMovieTest, ConvertsTheVideoItIsHandedNotTheOneTheWindowShows) {
  // As the batch mode converts: loaded without a preview, while the window shows another.
  const LoadResult loaded = LoadVideo(Clip("clip.mp4"), WindowObserver());
  ASSERT_TRUE(loaded.loaded) << loaded.failure;
  SetCurrentLoadedVideo(std::make_shared<LoadedVideo>(dir_.File("other.mp4")));
  ConversionJob job;
  job.video = loaded.video;
  job.output = dir_.File("out.mp4");
  job.temp_folder = temp_;
  job.offer_another_compression = false;
  job.settle_pauses = false;
  const ConversionReport report = ConvertMovie(job, WindowObserver());
  UnloadVideo(*loaded.video, WindowObserver());
  EXPECT_TRUE(report.movie_written) << report.failure;
  EXPECT_EQ(report.frames_delivered, 30);
  EXPECT_EQ(CurrentVideo(), dir_.File("other.mp4"));
  ExpectTempEmpty();
}

TEST_F(ConvertMovieTest, AVideoWithoutFramesEndsInTheIdleState) {
  ASSERT_NO_FATAL_FAILURE(Load(Clip("clip.mp4")));
  AnnounceFrames(0);
  const ConversionReport report = Convert(dir_.File("out.mp4"));
  EXPECT_EQ(report.failure, "the video reports no frames");
  EXPECT_EQ(report.exports, 0);
  EXPECT_EQ(Video.Converting, 0);
  EXPECT_EQ(ui().GetLabel(207), " Operation:");
  ExpectTempEmpty();
  // The program stays usable: the same clip converts at once.
  ASSERT_NO_FATAL_FAILURE(Load(dir_.File("clip.mp4")));
  EXPECT_TRUE(Convert(dir_.File("out.mp4")).movie_written);
}

TEST_F(ConvertMovieTest, ConvertingAfterThePreviewEndedRecordsEveryFrame) {
  // The throttle's 20 ms per frame make the recording outlast the driver's first look at
  // the graph's events.
  Settings.CpuLimitOn = 1;
  Settings.CpuUsage = 98;
  ASSERT_NO_FATAL_FAILURE(Load(Clip("clip.mp4")));
  // The preview plays the 1-second clip to its end before the Convert command.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const ConversionReport report = Convert(dir_.File("out.mp4"));
  EXPECT_TRUE(report.movie_written) << report.failure;
  EXPECT_EQ(report.frames_delivered, 30);
}

}  // namespace
}  // namespace zqr
