// The conversion driver. It reuses the graph the loader built: rewound, without a clock,
// with the program's frame callback, so frames arrive as fast as they are processed.
//
// Beyond the steps the program has always logged, it makes sure the movie it reports is
// really there and nothing else is lost: every path is checked before anything is recorded,
// the recording starts only when its files and frames fit on the disk and in memory, a
// video with sound (even one the graph cannot decode) gives a movie with sound or a
// failure, success is reported only when the encoder ended well, said nothing of a failed
// write and its movie reads through whole, the movie takes its name only once complete
// (see partial_movie.h), a video holding more than it announced is recorded whole, and the
// clean-up has finished before a new sound file is made.
#include "convert/convert_movie.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <mutex>
#include <system_error>
#include <vector>

#include "convert/convert_state.h"
#include "convert/encoder_command.h"
#include "convert/encoder_feed.h"
#include "convert/export.h"
#include "convert/make_wave.h"
#include "convert/output_checks.h"
#include "convert/partial_movie.h"
#include "convert/recording.h"
#include "convert/sound_relay.h"
#include "convert/stereo_marks.h"
#include "convert/temp_files.h"
#include "core/control_ids.h"
#include "core/numbers.h"
#include "core/run_log.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "core/tool_runner.h"
#include "frames/crop.h"
#include "frames/frame_file.h"
#include "frames/layouts.h"
#include "frames/yuv420.h"
#include "platform/files.h"
#include "platform/process.h"
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

constexpr const char* kErrorCaption = "Error Monitoring";
// The extracted sound: 44100 Hz, two channels of 16 bits.
constexpr double kWaveBytesPerSecond = 44100.0 * 4;
// Less room than this left on a disk after a failed write: the disk is full.
constexpr uint64_t kFullDiskBytes = 1 << 20;

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

std::string Megabytes(int64_t bytes) {
  return NumberText(static_cast<int64_t>((bytes + 999999) / 1000000)) + " MB";
}

// A refusal before anything is recorded: one message, the report, and the graph left as the
// Convert command found it.
ConversionReport Refuse(Observer& observer, ConversionReport& report, const std::string& text,
                        const std::string& line) {
  observer.Ask(text, kErrorCaption, platform::kMbIconError);
  LogLine("Convert Movie refused: " + line);
  report.failure = line;
  Publish(report);
  return report;
}
ConversionReport Refuse(Observer& observer, ConversionReport& report, const std::string& text) {
  return Refuse(observer, report, text, OneLine(text));
}

void LogSoundEnd(int32_t status) {
  LogLine("MakeWave End " + NumberText(status));
}

// Waits for the sound extraction after the recording, at most the sound wait limit and no
// longer than a stop request allows; a tool still running then is ended. Its exit status,
// -1 when it had to be ended.
int32_t WaitForSound(SoundExtraction& sound, Observer& observer) {
  const int64_t deadline = platform::MonotonicMs() + sound_wait_limit_ms.load();
  while (sound.Running() && platform::MonotonicMs() < deadline && Conversion.StopRequested == 0) {
    observer.Wait(20);
  }
  if (sound.Running()) {
    LogLine(Conversion.StopRequested != 0
                ? "MakeWave stopped"
                : "MakeWave did not end in time; the movie is made without waiting for it");
    sound.Stop();
    return -1;
  }
  const int32_t status = sound.Wait();
  LogSoundEnd(status);
  return status;
}

// Why a video with sound would give a movie without: empty when the sound is there (or the
// video has none to lose).
std::string SoundProblem(const SoundExtraction& sound, int32_t status,
                         const std::string& sound_file) {
  // The graph leaves out a track it cannot decode; the tool still finds it.
  if (Video.HasSound == 0 && !sound.InputHasSound()) return std::string();
  if (status == 0 && SoundFileUsable(sound_file) && WaveHoldsSound(sound_file)) {
    return std::string();
  }
  return "the sound could not be extracted (" + sound.Reason() + ")";
}

// The encoder starts with the settings of that moment, reading the sound through the relay
// while it is extracted, or else once the sound file is complete (it reads it from the
// start).
void StartFeed(EncoderFeed& feed, bool sound_from_pipe) {
  EncoderInputs inputs = CurrentEncoderInputs();
  inputs.frames_from_pipe = true;
  inputs.sound_from_pipe = sound_from_pipe;
  if (sound_from_pipe) inputs.sound_usable = true;
  inputs.chroma444 = feed.full_colour();  // the pictures are already made that way
  const std::string command = EncoderCommandLine(inputs);
  const std::string messages = EncoderMessagesFile(inputs.temp_folder);
  std::error_code error;
  std::filesystem::remove(messages, error);
  if (!command.empty()) {
    LogLine("Encoding while recording");
    LogEncoderCommand(inputs, command);
  }
  if (command.empty() || !feed.Start(inputs, command, messages)) {
    LogLine("The encoder could not be started");
    feed.Abort();  // the recording must not wait for it
  }
}

// A recording that ends without an export stops the encoder fed during it (what it wrote
// goes with the partial movie), and a frame waiting for room in its queue goes on.
void AbortFeed(EncoderFeed& feed) {
  const bool started = feed.started() && !feed.EncoderEnded();
  feed.Abort();
  if (started) LogLine("Encoding while recording stopped");
}

// The first export: the encoder fed during the recording, when the settings are still the
// ones it was started with; otherwise (or when it failed) an encoder run on the files.
ExportResult FirstExport(const std::string& output, EncoderFeed& feed, bool frame_files,
                         Observer& observer) {
  if (feed.started()) {
    // Without frame files the fed encoder is the only one there can be.
    if (!frame_files) {
      ExportResult result = ConvertRectExport(output, observer, &feed);
      LogLine("Pictures fed to the encoder " + NumberText(feed.pictures_sent()));
      return result;
    }
    EncoderInputs now = CurrentEncoderInputs();
    now.frames_from_pipe = true;
    now.sound_from_pipe = feed.inputs().sound_from_pipe;
    if (now == feed.inputs()) {
      ExportResult result = ConvertRectExport(output, observer, &feed);
      if (result.written || result.stopped) return result;
      LogLine("Encoding while recording failed; encoding the frame files again");
    } else {
      LogLine("The settings changed while recording; encoding the frame files again");
      AbortFeed(feed);
    }
  }
  return ConvertRectExport(output, observer);
}

// The failure's cause as the user reads it: a full disk is named so.
std::string CauseText(const std::string& cause) {
  if (cause.empty()) return std::string();
  if (cause.find("No space left on device") != std::string::npos) {
    return ": the disk is full (" + cause + ")";
  }
  return " (" + cause + ")";
}

// Why a movie the encoder has finished may not take its name; empty when it may. It must
// still be where it was written (the output's folder renamed or replaced during the run
// leaves nothing to rename) and read through whole: ffmpeg does not always say when it
// could not write the end of a movie.
std::string UnfinishedMovie(const PartialMovie& movie, const std::string& output,
                            const ExportResult& exported, double seconds,
                            const std::string& temp_folder) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(movie.path(), error)) {
    return "the finished movie could not be renamed to " + output + ": " + movie.path() +
           " is gone (the folder was renamed, replaced or removed during the conversion)";
  }
  if (!exported.written) return std::string();
  const std::string problem =
      FinishedMovieProblem(movie.path(), Video.HasSound != 0, seconds,
                           temp_folder + platform::kPathSeparator + "temp_check.txt");
  if (problem.empty()) return problem;
  LogLine("The finished movie is damaged: " + problem);
  // A movie cut short on a disk with no room left was cut by the disk.
  if (platform::FreeSpaceBytes(FolderOf(output)) < kFullDiskBytes) {
    return "the encoder could not write " + output + CauseText("No space left on device");
  }
  return "the movie written for " + output + " is damaged: " + problem;
}

// The end of every run that got as far as arming the recording: the state back to idle and
// the temporary folder empty (unless the work files are to be kept). Whether the clip
// stays loaded is the caller's choice.
void CleanUp(const std::string& temp_folder, SoundExtraction& sound, bool keep_work_files,
             Observer& observer) {
  StopRecording();
  if (sound.Running()) sound.Stop();
  ClearVideoInfo(observer);
  Conversion.StopRequested = 0;
  Video.Converting = 0;
  std::error_code error;
  std::filesystem::remove(EncoderMessagesFile(temp_folder), error);
  std::filesystem::remove(SoundMessagesFile(temp_folder), error);
  if (!keep_work_files) DeleteWorkFiles(temp_folder);
  AllocateLayoutFrame(0, 0);
  FrameStore.DMEM1.Zero();
  Shell.EstimateText.Set("00.00.00");
  Shell.ElapsedText.Set("00.00.00");
  LogLine("Convert Movie End " + ClockText());
  ResetPreview();
  observer.Label(kIdFramesDoneLabel, "");
  observer.Label(kIdOperationLabel, " Operation:");
  LogLine("Convert Movie End 2");
}

}  // namespace

ConversionReport LastConversionReport() {
  std::lock_guard lock(report_mutex);
  return last_report;
}

ConversionProgress PollConversion() {
  ConversionProgress progress;
  progress.frames_total = FrameStore.numframes;
  progress.frames_recorded = FrameStore.FrameCounter;
  if (Conversion.EncoderRunning != 0) {
    progress.state = ConversionProgress::State::kEncoding;
    const std::string folder = CurrentEncoderJob().TempFolder;
    progress.frames_encoded = EncoderFramesDone(folder.empty() ? Shell.TempFolder : folder);
  } else if (Video.Converting != 0) {
    progress.state = ConversionProgress::State::kRecording;
  }
  return progress;
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

ConversionReport ConvertMovie(const ConversionJob& job, Observer& observer) {
  ConversionReport report;
  report.output_name = job.output;
  int32_t frames_done = 0;
  Shell.EstimateText.Set("00.00.00");
  Shell.ElapsedText.Set("00.00.00");
  LogLine("Convert Movie Begin " + ClockText());
  LogLine("Output file " + job.output);
  LogLine("Output Folder Free Space:");
  LogLine(FormatByteGroups(platform::FreeSpaceBytes(FolderOf(job.output))) + " bytes");
  std::shared_ptr<platform::MediaGraph> graph = CurrentGraph();
  if (graph) graph->SetNoSyncSource();

  const std::string& input = job.input;
  const std::string& output = job.output;
  if (input.empty()) return Refuse(observer, report, kNoVideoText, "no video is loaded");
  if (SameFile(output, input)) {
    return Refuse(observer, report, kSameNameText, "the output file is the input file");
  }
  if (!graph) {
    report.failure = "no video is loaded";
    Publish(report);
    return report;
  }
  if (std::string problem = OutputProblem(output); !problem.empty()) {
    return Refuse(observer, report, problem);
  }
  const int32_t width = FrameStore.FrameW;
  const int32_t height = FrameStore.FrameH;
  // Frame files lose 16 columns: a picture that narrow would leave nothing to write.
  if (width <= frames::kCropColumns) {
    return Refuse(observer, report,
                  "The VIDEO is " + NumberText(width) + " pixels wide; at least " +
                      NumberText(frames::kCropColumns + 1) + " are needed for a conversion.",
                  "the video is too narrow");
  }
  // Another layout than the red/cyan merge makes frame files of its own size; it is fixed
  // for the recording, as the movie's size and what it says of its views depend on it.
  const bool stereo_views = Settings.StereoOn == 1;
  const frames::OutputLayout layout = RecordedLayout(Settings.StereoOn, Settings.Layout);
  const bool layout_frames = layout != frames::OutputLayout::kAnaglyph;
  const frames::LayoutSize file_size =
      layout_frames ? frames::LayoutOutputSize(layout, width - frames::kCropColumns, height)
                    : frames::LayoutSize{width - frames::kCropColumns, height, 0};
  if (std::string problem = SizeProblem(file_size.width, file_size.height); !problem.empty()) {
    return Refuse(observer, report, problem);
  }
  // Frames too large for the memory there is would end the run (or the machine's other
  // programs) halfway; they are refused first.
  const FrameSize movie_size =
      ResizedFrameSize(Settings.ResizeMode, file_size.width, file_size.height);
  if (std::string problem =
          MemoryProblem(width, height, movie_size.width, movie_size.height,
                        platform::AvailableMemoryBytes(), platform::ProcessMemoryLimitBytes());
      !problem.empty()) {
    return Refuse(observer, report, problem);
  }

  // The temporary folder of this recording, fixed now: the window may change TempFolder
  // while it runs.
  const std::string& temp_folder = job.temp_folder;
  if (std::string problem = CheckPathForCommandLine(temp_folder, "temporary folder's name");
      !problem.empty()) {
    return Refuse(observer, report, problem);
  }
  std::error_code error;
  std::filesystem::create_directories(temp_folder, error);
  // Two conversions in one folder would delete and overwrite each other's frames.
  platform::FolderLock folder_lock;
  if (!job.temp_folder_held && !folder_lock.TryLock(temp_folder) && !folder_lock.busy()) {
    // No lock file can be made there: so no frame file either.
    const std::string why = platform::FileErrorText(folder_lock.error());
    return Refuse(observer, report,
                  "The temporary folder " + temp_folder + " cannot be written (" + why +
                      ").\r\nPlease choose another one.",
                  "the temporary folder " + temp_folder + " cannot be written (" + why + ")");
  }
  if (!job.temp_folder_held && !folder_lock.held()) {
    return Refuse(observer, report,
                  "The temporary folder " + temp_folder +
                      " is in use by another conversion.\r\nPlease choose another one.",
                  "the temporary folder " + temp_folder + " is in use by another conversion");
  }
  PartialMovie movie;
  if (!movie.Reserve(output)) {
    return Refuse(observer, report,
                  "The output file cannot be created in its folder:\r\n" + output);
  }

  observer.PositionBar(0);
  platform::RefTime start = 0;
  graph->SetPositions(&start, platform::kSeekAbsolutePositioning, nullptr,
                      platform::kSeekNoPositioning);
  graph->Pause();
  // The window's graph was playing a moment ago: give it time to settle.
  if (job.settle_pauses) platform::SleepMs(100);
  LogLine("Set Stream to 0 position");
  if (job.settle_pauses) platform::SleepMs(10);

  // The clean-up ends before the sound extraction starts, so it cannot take the new file.
  // No writer is running: the last run waited for its own.
  DeleteWorkFiles(temp_folder);
  // What the clean-up left under a work file's name is no file of ours.
  if (std::string foreign = ForeignWorkFileEntry(temp_folder); !foreign.empty()) {
    return Refuse(observer, report,
                  "The temporary folder " + temp_folder + " holds " + foreign +
                      ", which is a link or a folder, not a file of this program.\r\n"
                      "Please remove it or choose another temporary folder.");
  }
  const int32_t numframes = FrameStore.numframes;
  // Frame files serve another compression only: a run that offers none feeds the encoder
  // from memory and writes nothing but the sound file.
  const bool frame_files = job.offer_another_compression || job.keep_work_files;
  const int64_t needed =
      RecordingBytesNeeded(frame_files ? numframes : 0, file_size.width, file_size.height,
                           std::max(Video.DurationSeconds.load(), job.recorded_seconds));
  const auto free_bytes = static_cast<int64_t>(platform::FreeSpaceBytes(temp_folder));
  if (needed > free_bytes) {
    return Refuse(observer, report,
                  "Not enough free space in the temporary folder " + temp_folder +
                      ":\r\nthe conversion needs about " + Megabytes(needed) + ", " +
                      Megabytes(free_bytes) + " are free.",
                  "not enough free space in " + temp_folder + " (needs " + Megabytes(needed) +
                      ", " + Megabytes(free_bytes) + " free)");
  }

  // The sound extraction goes first: its tool starts up while the recording is made ready
  // (the frame buffers' pages alone take a fifth of a second at 1080p).
  LogLine("Run MakeWave 0");
  const std::string sound_file = SoundFile(temp_folder);
  SoundExtraction sound;
  // The encoder takes the sound as far as its -t: no further is extracted (a second past
  // it, for the rounding).
  const double movie_seconds = std::max(Video.DurationSeconds.load(), job.recorded_seconds);
  sound.Start(ToolPath("ffmpeg"), input, sound_file, SoundMessagesFile(temp_folder),
              movie_seconds > 0 ? std::ceil(movie_seconds) + 1 : 0);
  LogLine("Run MakeWave 1");

  const int64_t time_per_frame = Video.TimePerFrame;
  observer.Label(kIdFileNameLabel, " " + output + " ");
  observer.Label(kIdFrameSizeLabel, NumberText(width) + "x" + NumberText(height));
  observer.Label(kIdFrameRateLabel, FormatMask0000(FramesPerSecond(time_per_frame)) + " fps");
  observer.Label(kIdFrameCountLabel, NumberText(numframes));
  observer.Label(kIdDurationLabel, FormatHms(Video.DurationSeconds.load()));

  LogLine("Set MovieDuration");
  Video.Converting = 1;
  WaitForPreviewPoll();     // from here on only the streaming thread touches the frames
  ResetFrameFileWriters();  // fresh writers: their failure count is this run's
  EncoderFeed feed(file_size.width, file_size.height, 4,
                   Settings.Chroma444 != 0 && TakesFullColour(output));
  SoundRelay relay;
  EncoderJob encoder_job;
  encoder_job.FrameFileWidth = file_size.width;
  encoder_job.FrameFileHeight = file_size.height;
  encoder_job.Layout = layout_frames ? static_cast<int32_t>(layout) : 0;
  encoder_job.TimePerFrame = time_per_frame;
  encoder_job.DurationSeconds =
      job.recorded_seconds > 0 ? job.recorded_seconds : Video.DurationSeconds.load();
  encoder_job.TempFolder = temp_folder;
  encoder_job.OutputName = movie.path();
  SetEncoderJob(encoder_job);
  // A video with sound need not wait for its extraction: the encoder reads the sound
  // through the relay as the file grows, and starts up while the recording is made ready.
  bool feed_begun = false;
  if (Video.HasSound != 0 && sound.Running() &&
      relay.Start(sound_file, SoundPipeFile(temp_folder), sound)) {
    LogLine("The encoder reads the sound while it is extracted");
    StartFeed(feed, true);
    feed_begun = true;
  }
  BeginFramePlacement(
      temp_folder, time_per_frame,
      [&feed](int32_t number, const uint32_t* pixels, int32_t stride) {
        feed.Picture(number, pixels, stride);
      },
      frame_files, layout_frames ? layout : frames::OutputLayout::kAnaglyph);
  InstallFrameCallback();
  LogLine("Determine CUTOFF");
  LogLine("Determine DMEM1, DMEM2, DMEM3, DMEM4");
  const bool arrays = AllocateConversionArrays() &&
                      AllocateLayoutFrame(layout_frames ? file_size.width : 0, file_size.height);
  LogLine("Determine DMEM1, DMEM2, DMEM3, DMEM4 END");
  LogLine("Determine sDIB");
  PrepareFileFrame();
  LogLine("Determine sDIB END");
  auto fail = [&](const std::string& text, const std::string& line) {
    if (!text.empty()) observer.Ask(text, kErrorCaption, platform::kMbIconError);
    report.failure = line;
    AbortFeed(feed);
    CleanUp(temp_folder, sound, job.keep_work_files, observer);
    Publish(report);
    return report;
  };
  if (!arrays) {
    return fail("Not enough memory for the frames of this VIDEO.",
                "not enough memory for the frames");
  }

  LogLine("Run MakeWave");
  ResetEstimateTiming();
  observer.Label(kIdOperationLabel, "     RECORD");
  LogLine("pBasicAudio 0");
  graph->PutVolume(platform::kVolumeSilent);
  LogLine("pBasicAudio 1");
  if (numframes == 0) {
    // Nothing to record: back to idle, as after any other run.
    return fail("The VIDEO reports no frames; nothing was converted.",
                "the video reports no frames");
  }

  ResetEstimateTiming();
  LogLine("Begin Convert Process");
  FrameStore.FrameCounter = 0;  // before the first frame can arrive
  // An end of stream the preview reached before the rewind is still queued; taken for this
  // recording's end it would cut the movie after its first frames.
  DiscardGraphEvents(*graph);
  LogLine(frame_files ? "Frames to the encoder from memory; frame files written beside"
                      : "Frames to the encoder from memory; no frame files");
  const int64_t record_start = platform::MonotonicMs();
  graph->Run();
  bool sound_seen = false;
  std::string sound_problem;
  const RecordEnd end = RecordLoop(
      *graph, &frames_done,
      [&] {
        if (sound_seen || sound.Running()) return false;
        sound_seen = true;
        // A sound track that cannot be had ends the run now rather than after the recording.
        sound_problem = SoundProblem(sound, sound.Wait(), sound_file);
        if (!sound_problem.empty()) return true;
        if (!feed_begun) StartFeed(feed, false);
        return false;
      },
      [&feed] { return feed.recording_waits(); }, observer);
  // The sound may be found lost in the very wait that saw the video's end.
  const bool sound_lost = end == RecordEnd::kCalledOff || !sound_problem.empty();
  // A frame waiting for room in the feed's queue would hold the recording's end.
  if (end != RecordEnd::kEnded || sound_lost) AbortFeed(feed);
  const RecordedFrames recorded = StopRecording();
  LogLine("Recording time " + NumberText(platform::MonotonicMs() - record_start) + " ms");
  report.frames_delivered = FrameStore.FrameCounter;
  const frames::FrameFileWriter::Stats stats = FrameFileWriters().stats();
  report.failed_frame_files = stats.failed;
  LogLine("Frames delivered " + NumberText(report.frames_delivered) + ", frame files written " +
          NumberText(stats.written) + ", failed " + NumberText(stats.failed));

  if (stats.failed > 0 || recorded.slots == 0) AbortFeed(feed);
  if (end == RecordEnd::kStopped) {
    report.stopped = true;
    return fail("", "stopped during recording");
  }
  if (sound_lost) {
    LogSoundEnd(sound.Wait());
    return fail("The sound of the VIDEO " + input + " could not be extracted:\r\n" +
                    sound.Reason() + "\r\nThe conversion has been stopped.",
                sound_problem);
  }
  if (end == RecordEnd::kWriteFailed || stats.failed > 0) {
    return fail("A frame file could not be written to the temporary folder " + temp_folder +
                    " (is the disk full?).\r\nThe conversion has been stopped.",
                "frame files could not be written to " + temp_folder + " (disk full?)");
  }
  if (recorded.slots == 0) {
    return fail("No frame could be read from the VIDEO " + input + ".",
                "no frame could be read from " + input);
  }
  const int32_t slots = recorded.slots;
  // The fed encoder repeats a picture over a gap itself; the files are there for the
  // exports from the folder.
  report.frame_files =
      frame_files ? static_cast<int32_t>(stats.written) + RepeatFrames(temp_folder, recorded.gaps)
                  : slots;
  report.recorded = true;
  feed.Finish(slots);
  if (!sound_seen) {
    const int32_t status = WaitForSound(sound, observer);
    if (Conversion.StopRequested != 0) {
      AbortFeed(feed);
      report.stopped = true;
      return fail("", "stopped during recording");
    }
    sound_problem = SoundProblem(sound, status, sound_file);
    if (!sound_problem.empty()) {
      AbortFeed(feed);
      return fail("The sound of the VIDEO " + input + " could not be extracted:\r\n" +
                      sound.Reason() + "\r\nThe conversion has been stopped.",
                  sound_problem);
    }
  } else {
    LogSoundEnd(sound.Wait());
  }

  // A video that delivers more than the length it announced (a header that says less than
  // the file holds, files joined end to end) is converted whole: the encoder's -t covers
  // what was recorded. The encoder fed while recording has already stopped at the old one
  // and the sound was extracted only as far, so the video is recorded once more.
  const double fps = FramesPerSecond(time_per_frame);
  const double picture_seconds = static_cast<double>(slots) / (fps > 0 ? fps : 30.0);
  const double covered = std::ceil(encoder_job.DurationSeconds);
  if (picture_seconds - covered > 1.0 / (fps > 0 ? fps : 30.0)) {
    LogLine("Note: the video delivered " + NumberText(slots) + " frames (" +
            FormatMask0000(picture_seconds) + " s), more than the " +
            FormatMask0000(Video.DurationSeconds.load()) +
            " s it announced; the movie covers what was recorded");
    EncoderJob longer = CurrentEncoderJob();
    longer.DurationSeconds = picture_seconds;
    SetEncoderJob(longer);
    if (job.recorded_seconds <= 0 && Conversion.StopRequested == 0) {
      LogLine("The video is recorded again for an encoder that takes all of it");
      AbortFeed(feed);
      relay.Stop();
      movie.Discard();
      CleanUp(temp_folder, sound, job.keep_work_files, observer);
      ConversionJob again = job;
      again.recorded_seconds = picture_seconds;
      again.temp_folder_held = true;  // this run holds it
      return ConvertMovie(again, observer);
    }
  }

  // A video that ends well before the length it announced (a damaged or cut file) is
  // converted as far as it goes, and the user is told.
  const int64_t tolerance = std::max<int64_t>(numframes / 10, std::llround(fps));
  const bool short_picture = numframes - int64_t{slots} > tolerance;
  // A sound track that goes on past the picture (by more than the -t's rounding may
  // leave) is cut to it as well, with no word: the clip is simply that long.
  std::error_code size_error;
  const auto sound_bytes = std::filesystem::file_size(sound_file, size_error);
  const bool sound_outlasts =
      !size_error && static_cast<double>(sound_bytes) / kWaveBytesPerSecond > picture_seconds + 0.5;
  if (short_picture) {
    report.warning = "the video ended after " + NumberText(slots) + " of the " +
                     NumberText(numframes) + " frames it announced (" +
                     FormatMask0000(picture_seconds) + " of " +
                     FormatMask0000(Video.DurationSeconds.load()) + " s)";
    LogLine("Warning: " + report.warning);
  }

  std::string current = output;
  for (;;) {
    LogLine("ConvertRectExport Begin");
    const int64_t export_start = platform::MonotonicMs();
    const bool first = report.exports == 0;
    ExportResult exported = first ? FirstExport(movie.path(), feed, frame_files, observer)
                                  : ConvertRectExport(movie.path(), observer);
    if (exported.written && (short_picture || sound_outlasts) && Video.HasSound != 0) {
      CutToPicture(movie.path(), picture_seconds);
    }
    if (exported.written) MarkStereoViews(movie.path(), stereo_views, static_cast<int32_t>(layout));
    std::string unfinished;
    if (!exported.stopped) {
      unfinished = UnfinishedMovie(
          movie, current, exported,
          std::min(picture_seconds, std::ceil(CurrentEncoderJob().DurationSeconds)), temp_folder);
    }
    const bool written = exported.written && unfinished.empty() && movie.Commit(&unfinished);
    if (!written) movie.Discard();
    if (!unfinished.empty()) LogLine("No movie: " + unfinished);
    LogLine("ConvertRectExport End");
    LogLine("Export time " + NumberText(platform::MonotonicMs() - export_start) + " ms");
    ++report.exports;
    report.output_name = current;
    report.movie_written = written;
    if (exported.stopped) {
      report.stopped = true;
      return fail("", "stopped during encoding of " + current);
    }
    report.failure = written ? std::string()
                     : !unfinished.empty()
                         ? unfinished
                         : "the encoder could not write " + current + CauseText(exported.cause);
    Publish(report);
    if (!job.offer_another_compression) break;
    const std::string cause = !unfinished.empty()      ? "\r\n" + unfinished
                              : exported.cause.empty() ? std::string()
                                                       : "\r\nThe encoder says: " + exported.cause;
    const int answer =
        written
            ? observer.Ask(kSuccessText, kSuccessCaption,
                           platform::kMbOkCancel | platform::kMbIconInformation)
            : observer.Ask("The movie could not be written:\r\n" + current + cause +
                               "\r\nThe encoder's messages are in the run log " + LogFilePath() +
                               "\r\nDo you want to save it with another compression value ?",
                           kErrorCaption, platform::kMbOkCancel | platform::kMbIconError);
    if (answer != platform::kIdOk) break;
    std::string next;
    for (;;) {
      next = AnotherCompressionDialog(current, observer);
      if (next.empty()) break;
      // Encoding over the input would destroy the very video the frames came from.
      std::string problem =
          SameFile(next, input) ? std::string(kSameNameText) : OutputProblem(next);
      if (problem.empty() && !movie.Reserve(next)) {
        problem = "The output file cannot be created in its folder:\r\n" + next;
      }
      if (problem.empty()) break;
      observer.Ask(problem, kErrorCaption, platform::kMbIconError);
    }
    if (next.empty()) break;
    current = next;
  }
  CleanUp(temp_folder, sound, job.keep_work_files, observer);
  Publish(report);
  return report;
}

}  // namespace zqr
