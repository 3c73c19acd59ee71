// The conversion driver. It reuses the graph the loader built: rewound, without a clock,
// with the program's frame callback, so frames arrive as fast as they are processed.
//
// Beyond the steps the program has always logged, it makes sure the movie it reports is
// really there: the recording starts only when its files fit on the disk, the encoder runs
// only after the last frame file and the sound file are complete, success is reported only
// when the encoder ended well and wrote something, and the clean-up has finished before a
// new sound file is made.
#include "convert/convert_movie.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <mutex>
#include <system_error>
#include <vector>

#include "app/numbers.h"
#include "app/run_log.h"
#include "app/settings.h"
#include "app/shell_state.h"
#include "convert/convert_state.h"
#include "convert/encoder_command.h"
#include "convert/encoder_feed.h"
#include "convert/export.h"
#include "convert/make_wave.h"
#include "convert/temp_files.h"
#include "frames/crop.h"
#include "frames/frame_file.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "video/frame_callback.h"
#include "video/frame_store.h"
#include "video/graph.h"
#include "video/play.h"
#include "video/play_rules.h"
#include "video/video_state.h"

namespace zqr {

namespace {

constexpr int kOperationLabel = 207;
constexpr const char* kErrorCaption = "Error Monitoring";

std::mutex report_mutex;
ConversionReport last_report;
std::atomic<int32_t> sound_wait_limit_ms{120000};

void Publish(const ConversionReport& report) {
  std::lock_guard lock(report_mutex);
  last_report = report;
}

std::string ClockText() {
  const platform::LocalTime t = platform::LocalNow();
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return text;
}

std::string FolderOf(const std::string& path) {
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? platform::CurrentDirectory() : parent.string();
}

bool KnownExtension(const std::string& output) {
  const std::string extension = OutputExtension(output);
  for (const char* known : {".flv", ".avi", ".mov", ".mp4", ".m4v", ".ogg", ".ogv", ".webm"}) {
    if (extension == known) return true;
  }
  return false;
}

std::string Megabytes(int64_t bytes) {
  return NumberText(static_cast<int64_t>((bytes + 999999) / 1000000)) + " MB";
}

// A refusal before anything is recorded: one message, the report, and the graph left as the
// Convert command found it.
void Refuse(ConversionReport& report, const std::string& text, const std::string& line) {
  platform::CurrentUi().ShowMessage(text, kErrorCaption, platform::kMbIconError);
  LogLine("Convert Movie refused: " + line);
  report.failure = line;
  Publish(report);
}

// The reasons an output name cannot be used; empty text when it can.
std::string OutputProblem(const std::string& output, const std::string& input) {
  if (output == input) return kSameNameText;
  const std::string folder = FolderOf(output);
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    return "The folder of the output file does not exist:\r\n" + folder;
  }
  if (!platform::FolderWritable(folder)) {
    return "The folder of the output file cannot be written:\r\n" + folder;
  }
  if (!KnownExtension(output)) {
    return "The output file must end in .flv, .avi, .mov, .mp4, .m4v, .ogg, .ogv or .webm:\r\n" +
           output;
  }
  return std::string();
}

void WaitForSound() {
  const int64_t deadline = platform::MonotonicMs() + sound_wait_limit_ms.load();
  while (Conversion.SoundRunning != 0 && platform::MonotonicMs() < deadline) {
    platform::CurrentUi().PumpOrSleep(20);
  }
  if (Conversion.SoundRunning != 0) {
    LogLine("MakeWave did not end in time; the movie is made without waiting for it");
  } else {
    LogLine("MakeWave End " + NumberText(Conversion.SoundExitCode.load()));
  }
}

// Stops the frames: no callback, no writer still busy. Returns the gaps of the recording.
std::vector<FrameGap> StopRecording() {
  if (auto graph = CurrentGraph()) {
    graph->Pause();
    graph->SetCallback(nullptr, platform::kSelectBufferCB);
  }
  std::vector<FrameGap> gaps = EndFramePlacement();
  WaitForFrameFiles();
  FrameFileWriters().SetWrittenObserver(nullptr);
  return gaps;
}

// Fills each gap of the recording with the frame before it.
int32_t RepeatFrames(const std::string& folder, const std::vector<FrameGap>& gaps) {
  int32_t made = 0;
  for (const FrameGap& gap : gaps) {
    const std::string source = frames::FrameFileName(folder, gap.source);
    for (int32_t k = 0; k < gap.count; ++k) {
      if (platform::LinkOrCopyFile(source, frames::FrameFileName(folder, gap.first + k))) ++made;
    }
  }
  if (!gaps.empty()) LogLine("Repeated frames " + NumberText(made));
  return made;
}

void DiscardGraphEvents(platform::MediaGraph& graph) {
  int32_t code = 0;
  intptr_t p1 = 0;
  intptr_t p2 = 0;
  for (int k = 0; k < 1000 && platform::Succeeded(graph.GetEvent(&code, &p1, &p2, 0)); ++k) {
    graph.FreeEventParams(code, p1, p2);
  }
}

enum class RecordEnd { kStopped, kEnded, kWriteFailed };

RecordEnd RecordLoop(platform::MediaGraph& graph, int32_t* frames_done,
                     const std::function<void()>& each_wait) {
  platform::Ui& ui = platform::CurrentUi();
  const int32_t numframes = FrameStore.numframes;
  int32_t passes = 0;
  int32_t remembered = 0;
  int32_t stall_count = 0;
  // The caller's work runs after every wait, so that it starts no later than it must.
  auto wait = [&](int32_t milliseconds) {
    ui.PumpOrSleep(milliseconds);
    each_wait();
  };
  for (;;) {
    wait(120);
    if (Conversion.StopRequested != 0) return RecordEnd::kStopped;
    wait(150);
    *frames_done = FrameStore.FrameCounter;
    // A file that could not be written (the disk is full) spoils the movie: end now.
    if (FrameFileWriters().stats().failed > 0) return RecordEnd::kWriteFailed;
    if (++passes > 16) {
      ui.SetLabel(kFramesDoneLabel, NumberText(*frames_done));
      passes = 0;
      const double share = numframes > 0 ? 598.0 * *frames_done / numframes : 0.0;
      SetPositionBar(std::min(RoundHalfEven32(share), kPositionBarMaxWidth));
      const int32_t counter = FrameStore.FrameCounter;
      if (counter == remembered) {
        ++stall_count;
      } else {
        remembered = counter;
        stall_count = 0;
      }
    }
    int32_t code = 0;
    intptr_t p1 = 0;
    intptr_t p2 = 0;
    const bool event = platform::Succeeded(graph.GetEvent(&code, &p1, &p2, 0));
    if (event) graph.FreeEventParams(code, p1, p2);
    if ((event && code == platform::kEcComplete) || stall_count > kStallLimit) {
      return RecordEnd::kEnded;
    }
    wait(10);
  }
}

// The encoder starts once the sound file is complete (it reads it from the start), with the
// settings of that moment.
void StartFeed(EncoderFeed& feed) {
  EncoderInputs inputs = CurrentEncoderInputs();
  inputs.frames_from_pipe = true;
  const std::string command = EncoderCommandLine(inputs);
  if (command.empty()) return;
  const std::string messages = EncoderMessagesFile(inputs.temp_folder);
  std::error_code error;
  std::filesystem::remove(messages, error);
  LogLine("Encoding while recording");
  LogEncoderCommand(inputs, command);
  // Without another compression to come, a frame file is of no use once it is encoded.
  const bool delete_fed = Conversion.SingleExport != 0 && Conversion.KeepWorkFiles == 0;
  if (!feed.Start(inputs, command, messages, delete_fed)) {
    LogLine("The encoder could not be started");
  }
}

// A recording that ends without an export leaves no part of a movie behind.
void AbortFeed(EncoderFeed& feed, const std::string& output) {
  if (!feed.started()) return;
  feed.Abort();
  std::error_code error;
  std::filesystem::remove(output, error);
  LogLine("Encoding while recording stopped");
}

// The first export: the encoder fed during the recording, when the settings are still the
// ones it was started with; otherwise (or when it failed) an encoder run on the files.
bool FirstExport(const std::string& output, EncoderFeed& feed) {
  if (feed.started()) {
    // With its files gone, the fed encoder is the only one there can be.
    if (feed.deletes_fed_files()) {
      const bool written = ConvertRectExport(output, &feed);
      LogLine("Frame files deleted once encoded " + NumberText(feed.files_deleted()));
      return written;
    }
    EncoderInputs now = CurrentEncoderInputs();
    now.frames_from_pipe = true;
    if (now == feed.inputs()) {
      if (ConvertRectExport(output, &feed)) return true;
      LogLine("Encoding while recording failed; encoding the frame files again");
    } else {
      LogLine("The settings changed while recording; encoding the frame files again");
      AbortFeed(feed, output);
    }
  }
  return ConvertRectExport(output);
}

// The end of every run that got as far as arming the recording: the state back to idle and
// the temporary folder empty (unless the work files are to be kept).
void CleanUp(const std::string& temp_folder) {
  StopRecording();
  WaitForSound();
  ClearVideoInfo();
  Video.PlayState = 0;
  Conversion.StopRequested = 0;
  Video.Converting = 0;
  if (Conversion.KeepWorkFiles == 0) DeleteWorkFiles(temp_folder);
  // A stopped encoder leaves its messages; an export that ended has taken them already.
  std::error_code ignored;
  std::filesystem::remove(EncoderMessagesFile(temp_folder), ignored);
  FrameStore.DMEM1.Zero();
  Shell.EstimateText.Set("00.00.00");
  Shell.ElapsedText.Set("00.00.00");
  LogLine("Convert Movie End " + ClockText());
  ResetPreview();
  platform::Ui& ui = platform::CurrentUi();
  ui.SetLabel(kFramesDoneLabel, "");
  ui.SetLabel(kOperationLabel, " Operation:");
  LogLine("Convert Movie End 2");
}

}  // namespace

ConversionReport LastConversionReport() {
  std::lock_guard lock(report_mutex);
  return last_report;
}

void SetSoundWaitLimitMs(int32_t milliseconds) {
  sound_wait_limit_ms = std::max(milliseconds, 0);
}

int64_t RecordingBytesNeeded(int32_t numframes, int32_t frame_width, int32_t frame_height,
                             double duration_seconds) {
  const int64_t frames = int64_t{std::max(numframes, 0)} *
                         frames::FrameFileSize(std::max(frame_width, 0), std::max(frame_height, 0));
  // temp.wav: 44100 Hz, two channels of 16 bits, and its header.
  const int64_t sound =
      44 + static_cast<int64_t>(std::ceil(std::max(duration_seconds, 0.0))) * 44100 * 4;
  return frames + sound;
}

void ConvertMovie(std::string& output_name) {
  ConversionReport report;
  report.output_name = output_name;
  platform::Ui& ui = platform::CurrentUi();
  int32_t frames_done = 0;
  Shell.EstimateText.Set("00.00.00");
  Shell.ElapsedText.Set("00.00.00");
  LogLine("Convert Movie Begin " + ClockText());
  LogLine("Output file " + output_name);
  LogLine("Output Folder Free Space:");
  LogLine(FormatByteGroups(platform::FreeSpaceBytes(FolderOf(TrimBlanks(output_name)))) + " bytes");
  std::shared_ptr<platform::MediaGraph> graph = CurrentGraph();
  if (graph) graph->SetNoSyncSource();

  const std::string input = TrimBlanks(CurrentVideo());
  const std::string output = TrimBlanks(output_name);
  if (input.empty()) return Refuse(report, kNoVideoText, "no video is loaded");
  if (output == input) return Refuse(report, kSameNameText, "the output file is the input file");
  if (!graph) {
    report.failure = "no video is loaded";
    return Publish(report);
  }
  if (std::string problem = OutputProblem(output, input); !problem.empty()) {
    std::string line = problem;
    for (char& c : line) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    return Refuse(report, problem, line);
  }
  const int32_t width = FrameStore.FrameW;
  const int32_t height = FrameStore.FrameH;
  // Frame files lose 16 columns: a picture that narrow would leave nothing to write.
  if (width <= frames::kCropColumns) {
    return Refuse(report,
                  "The VIDEO is " + NumberText(width) + " pixels wide; at least " +
                      NumberText(frames::kCropColumns + 1) + " are needed for a conversion.",
                  "the video is too narrow");
  }

  // The temporary folder of this recording, fixed now: the window may change TempFolder
  // while it runs.
  const std::string temp_folder = TrimBlanks(Shell.TempFolder);
  std::error_code error;
  std::filesystem::create_directories(temp_folder, error);
  // Two conversions in one folder would delete and overwrite each other's frames.
  platform::FolderLock folder_lock;
  if (!folder_lock.TryLock(temp_folder)) {
    return Refuse(report,
                  "The temporary folder " + temp_folder +
                      " is in use by another conversion.\r\nPlease choose another one.",
                  "the temporary folder " + temp_folder + " is in use by another conversion");
  }

  SetPositionBar(0);
  platform::RefTime start = 0;
  graph->SetPositions(&start, platform::kSeekAbsolutePositioning, nullptr,
                      platform::kSeekNoPositioning);
  graph->Pause();
  platform::SleepMs(100);
  LogLine("Set Stream to 0 position");
  platform::SleepMs(10);
  std::filesystem::remove(output, error);

  // The clean-up ends before the sound extraction starts, so it cannot take the new file.
  // No writer is running: the last run waited for its own.
  DeleteWorkFiles(temp_folder);
  const int32_t numframes = FrameStore.numframes;
  const int64_t needed = RecordingBytesNeeded(numframes, width - frames::kCropColumns, height,
                                              Video.DurationSeconds.load());
  const auto free_bytes = static_cast<int64_t>(platform::FreeSpaceBytes(temp_folder));
  if (needed > free_bytes) {
    return Refuse(report,
                  "Not enough free space in the temporary folder " + temp_folder +
                      ":\r\nthe conversion needs about " + Megabytes(needed) + ", " +
                      Megabytes(free_bytes) + " are free.",
                  "not enough free space in " + temp_folder + " (needs " + Megabytes(needed) +
                      ", " + Megabytes(free_bytes) + " free)");
  }

  const int64_t time_per_frame = Video.TimePerFrame;
  ui.SetLabel(kFileNameLabel, " " + output + " ");
  ui.SetLabel(kFrameSizeLabel, NumberText(width) + "x" + NumberText(height));
  ui.SetLabel(kFrameRateLabel, FormatMask0000(FramesPerSecond(time_per_frame)) + " fps");
  ui.SetLabel(kFrameCountLabel, NumberText(numframes));
  ui.SetLabel(kDurationLabel, FormatHms(Video.DurationSeconds.load()));

  LogLine("Set MovieDuration");
  Video.Converting = 1;
  WaitForPreviewPoll();     // from here on only the streaming thread touches the frames
  ResetFrameFileWriters();  // fresh writers: their failure count is this run's
  BeginFramePlacement(temp_folder, time_per_frame);
  InstallFrameCallback();
  LogLine("Determine CUTOFF");
  SetCutoff();
  LogLine("Determine DMEM1, DMEM2, DMEM3, DMEM4");
  const bool arrays = AllocateConversionArrays();
  LogLine("Determine DMEM1, DMEM2, DMEM3, DMEM4 END");
  PrepareFrameFileHeaders();
  EncoderJob job;
  job.FrameFileWidth = FrameStore.FileInfoHeader.width;
  job.FrameFileHeight = FrameStore.FileInfoHeader.height;
  job.TimePerFrame = time_per_frame;
  job.DurationSeconds = Video.DurationSeconds;
  job.TempFolder = temp_folder;
  job.OutputName = output;
  SetEncoderJob(job);
  LogLine("Determine sDIB");
  PrepareFileFrame();
  LogLine("Determine sDIB END");
  if (!arrays) {
    ui.ShowMessage("Not enough memory for the frames of this VIDEO.", kErrorCaption,
                   platform::kMbIconError);
    report.failure = "not enough memory for the frames";
    CleanUp(temp_folder);
    return Publish(report);
  }

  LogLine("Run MakeWave 0");
  StartMakeWave(temp_folder);
  LogLine("Run MakeWave 1");
  LogLine("Run MakeWave");
  ResetEstimateTiming();
  ui.SetLabel(kOperationLabel, "     RECORD");
  LogLine("pBasicAudio 0");
  graph->PutVolume(platform::kVolumeSilent);
  LogLine("pBasicAudio 1");
  if (numframes == 0) {
    // Nothing to record: back to idle, as after any other run.
    ui.ShowMessage("The VIDEO reports no frames; nothing was converted.", kErrorCaption,
                   platform::kMbIconError);
    report.failure = "the video reports no frames";
    CleanUp(temp_folder);
    return Publish(report);
  }

  ResetEstimateTiming();
  LogLine("Begin Convert Process");
  FrameStore.FrameCounter = 0;  // before the first frame can arrive
  // An end of stream the preview reached before the rewind is still queued; taken for this
  // recording's end it would cut the movie after its first frames.
  DiscardGraphEvents(*graph);
  EncoderFeed feed;
  FrameFileWriters().SetWrittenObserver(
      [&feed](const std::string& path, bool written) { feed.FileWritten(path, written); });
  const int64_t record_start = platform::MonotonicMs();
  graph->Run();
  bool feed_tried = false;
  const RecordEnd end = RecordLoop(*graph, &frames_done, [&] {
    if (!feed_tried && Conversion.SoundRunning == 0) {
      feed_tried = true;
      StartFeed(feed);
    }
  });
  const std::vector<FrameGap> gaps = StopRecording();
  LogLine("Recording time " + NumberText(platform::MonotonicMs() - record_start) + " ms");
  report.frames_delivered = FrameStore.FrameCounter;
  const frames::FrameFileWriter::Stats stats = FrameFileWriters().stats();
  report.failed_frame_files = stats.failed;
  LogLine("Frames delivered " + NumberText(report.frames_delivered) + ", frame files written " +
          NumberText(stats.written) + ", failed " + NumberText(stats.failed));

  if (end != RecordEnd::kEnded || stats.failed > 0 || stats.written == 0) {
    AbortFeed(feed, output);
  }
  if (end == RecordEnd::kStopped) {
    report.failure = "stopped during recording";
    CleanUp(temp_folder);
    return Publish(report);
  }
  if (end == RecordEnd::kWriteFailed || stats.failed > 0) {
    ui.ShowMessage("A frame file could not be written to the temporary folder " + temp_folder +
                       " (is the disk full?).\r\nThe conversion has been stopped.",
                   kErrorCaption, platform::kMbIconError);
    report.failure = "frame files could not be written to " + temp_folder + " (disk full?)";
    CleanUp(temp_folder);
    return Publish(report);
  }
  if (stats.written == 0) {
    ui.ShowMessage("No frame could be read from the VIDEO " + input + ".", kErrorCaption,
                   platform::kMbIconError);
    report.failure = "no frame could be read from " + input;
    CleanUp(temp_folder);
    return Publish(report);
  }
  int64_t numbers = stats.written;
  for (const FrameGap& gap : gaps) numbers += gap.count;
  const auto slots = static_cast<int32_t>(std::min<int64_t>(numbers, INT32_MAX));
  // The fed encoder repeats a picture over a gap itself; the files are there for the
  // exports from the folder.
  report.frame_files = feed.deletes_fed_files()
                           ? slots
                           : static_cast<int32_t>(stats.written) + RepeatFrames(temp_folder, gaps);
  report.recorded = true;
  feed.Finish(slots);
  WaitForSound();

  std::string current = output;
  for (;;) {
    LogLine("ConvertRectExport Begin");
    const int64_t export_start = platform::MonotonicMs();
    const bool written =
        report.exports == 0 ? FirstExport(current, feed) : ConvertRectExport(current);
    LogLine("ConvertRectExport End");
    LogLine("Export time " + NumberText(platform::MonotonicMs() - export_start) + " ms");
    ++report.exports;
    report.output_name = current;
    report.movie_written = written;
    report.failure = written ? std::string() : "the encoder could not write " + current;
    Publish(report);
    const int answer =
        written
            ? ui.ShowMessage(kSuccessText, kSuccessCaption,
                             platform::kMbOkCancel | platform::kMbIconInformation)
            : ui.ShowMessage("The movie could not be written:\r\n" + current +
                                 "\r\nThe encoder's messages are in the run log " + LogFilePath() +
                                 "\r\nDo you want to save it with another compression value ?",
                             kErrorCaption, platform::kMbOkCancel | platform::kMbIconError);
    if (answer != platform::kIdOk) break;
    std::string next;
    for (;;) {
      next = TrimBlanksAndNuls(AnotherCompressionDialog(current));
      // Encoding over the input would destroy the very video the frames came from.
      if (next.empty() || next != input) break;
      ui.ShowMessage(kSameNameText, kErrorCaption, platform::kMbIconError);
    }
    if (next.empty()) break;
    current = next;
  }
  output_name = current;
  CleanUp(temp_folder);
  Publish(report);
}

}  // namespace zqr
