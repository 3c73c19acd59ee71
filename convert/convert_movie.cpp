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
#include <optional>
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
#include "platform/path.h"
#include "platform/process.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "video/frame_callback.h"
#include "video/frame_store.h"
#include "video/graph.h"
#include "video/play.h"
#include "video/play_rules.h"
#include "video/preview_step.h"
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
// The temporary folder of the conversion under way, whose encoder messages tell a poll
// how far the encoder has come, and the frames it announces.
struct PolledConversion {
  std::string folder;
  int32_t numframes = 0;
} polled;

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

// Below 10 MB, in kB.
std::string SizeText(int64_t bytes) {
  if (bytes >= 10'000'000) return Megabytes(bytes);
  return NumberText(static_cast<int64_t>((bytes + 999) / 1000)) + " kB";
}

void LogSoundEnd(int32_t status) {
  LogLine("MakeWave End " + NumberText(status));
}

// Waits for the sound extraction after the recording, at most the sound wait limit and no
// longer than a stop request allows; a tool still running then is ended. Its exit status,
// -1 when it had to be ended.
int32_t WaitForSound(SoundExtraction& sound, Observer& observer) {
  const int64_t deadline = platform::MonotonicMs() + kSoundWaitLimitMs;
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
                         const std::string& sound_file, bool has_sound) {
  // The graph leaves out a track it cannot decode; the tool still finds it.
  if (!has_sound && !sound.InputHasSound()) return std::string();
  if (status == 0 && SoundFileUsable(sound_file) && WaveHoldsSound(sound_file)) {
    return std::string();
  }
  return "the sound could not be extracted (" + sound.Reason() + ")";
}

// The encoder starts with the settings of that moment, reading the sound through the relay
// while it is extracted, or else once the sound file is complete (it reads it from the
// start).
void StartFeed(EncoderFeed& feed, const EncoderJob& job, bool sound_from_pipe) {
  EncoderInputs inputs = EncoderInputsFor(job);
  inputs.frames_from_pipe = true;
  inputs.sound_from_pipe = sound_from_pipe;
  if (sound_from_pipe) inputs.sound_usable = true;
  inputs.chroma444 = feed.full_colour();  // the pictures are already made that way
  const std::string command = EncoderCommandLine(inputs);
  const std::string messages = EncoderMessagesFile(inputs.temp_folder);
  std::error_code error;
  std::filesystem::remove(platform::PathOf(messages), error);
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
ExportResult FirstExport(const EncoderJob& job, EncoderFeed& feed, bool frame_files,
                         Observer& observer, const std::function<bool()>& lost) {
  if (feed.started()) {
    // Without frame files the fed encoder is the only one there can be.
    if (!frame_files) {
      ExportResult result = ConvertRectExport(job, observer, &feed, lost);
      LogLine("Pictures fed to the encoder " + NumberText(feed.pictures_sent()));
      return result;
    }
    EncoderInputs now = EncoderInputsFor(job);
    now.frames_from_pipe = true;
    now.sound_from_pipe = feed.inputs().sound_from_pipe;
    if (now == feed.inputs()) {
      ExportResult result = ConvertRectExport(job, observer, &feed, lost);
      if (result.written || result.stopped) return result;
      LogLine("Encoding while recording failed; encoding the frame files again");
    } else {
      LogLine("The settings changed while recording; encoding the frame files again");
      AbortFeed(feed);
    }
  }
  return ConvertRectExport(job, observer, nullptr, lost);
}

// The failure's cause as the user reads it: a full disk is named so.
std::string CauseText(const std::string& cause) {
  if (cause.empty()) return std::string();
  if (cause.find("No space left on device") != std::string::npos) {
    return ": the disk is full (" + cause + ")";
  }
  return " (" + cause + ")";
}

std::string OutputFolderLost(const std::string& output) {
  return "the folder " + FolderOf(output) + " of the output file was renamed, replaced or " +
         "removed during the conversion; nothing was written there";
}

// Why a movie the encoder has finished may not take its name; empty when it may. It must
// still be where it was written (the output's folder renamed or replaced during the run
// leaves nothing to rename) and read through whole: ffmpeg does not always say when it
// could not write the end of a movie.
std::string UnfinishedMovie(const PartialMovie& movie, const std::string& output,
                            const ExportResult& exported, double seconds, bool has_sound,
                            const std::string& temp_folder) {
  if (!movie.InPlace()) return OutputFolderLost(output);
  if (!exported.written) return std::string();
  const std::string problem = FinishedMovieProblem(
      movie.path(), has_sound, seconds, temp_folder + platform::kPathSeparator + "temp_check.txt");
  if (problem.empty()) return problem;
  LogLine("The finished movie is damaged: " + problem);
  // A movie cut short on a disk with no room left was cut by the disk.
  if (platform::FreeSpaceBytes(FolderOf(output)) < kFullDiskBytes) {
    return "the encoder could not write " + output + CauseText("No space left on device");
  }
  return "the movie written for " + output + " is damaged: " + problem;
}

// The success message; a movie that is not all the video holds says so in it.
std::string SuccessText(const std::string& warning) {
  if (warning.empty()) return kSuccessText;
  const std::string text = kSuccessText;
  const size_t question = text.find("\r\n") + 2;
  return text.substr(0, question) + "Note: " + warning + ".\r\n" + text.substr(question);
}

// The end of every run that got as far as arming the recording: the state back to idle and
// the temporary folder empty (unless the work files are to be kept). Whether the clip
// stays loaded is the caller's choice.
void CleanUp(const std::string& temp_folder, LoadedVideo* video, FrameRecording* recording,
             SoundExtraction& sound, bool keep_work_files, Observer& observer) {
  StopRecording(video != nullptr ? video->graph().get() : nullptr, recording);
  if (sound.Running()) sound.Stop();
  ClearVideoInfo(observer, video);
  Conversion.StopRequested = 0;
  Video.Converting = 0;
  std::error_code error;
  std::filesystem::remove(platform::PathOf(EncoderMessagesFile(temp_folder)), error);
  std::filesystem::remove(platform::PathOf(SoundMessagesFile(temp_folder)), error);
  if (!keep_work_files) DeleteWorkFiles(temp_folder);
  if (recording != nullptr) recording->ReleaseArrays();
  Shell.EstimateText.Set("00.00.00");
  Shell.ElapsedText.Set("00.00.00");
  LogLine("Convert Movie End " + ClockText());
  observer.ResetPreview();
  if (video != nullptr) video->preview_step().Forget();  // the cleared area gets the next poll's
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
  PolledConversion published;
  {
    std::lock_guard lock(report_mutex);
    published = polled;
  }
  progress.frames_total = published.numframes;
  progress.frames_recorded = FrameStore.FrameCounter;
  if (Conversion.EncoderRunning != 0) {
    progress.state = ConversionProgress::State::kEncoding;
    const std::string& folder = published.folder;
    progress.frames_encoded = EncoderFramesDone(folder.empty() ? Shell.TempFolder : folder);
  } else if (Video.Converting != 0) {
    progress.state = ConversionProgress::State::kRecording;
  }
  return progress;
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

namespace {

// One conversion, from the checks of its paths to the clean-up: the job, the client's
// observer, what the run has found out so far, and what it owns (the folder's lock, the
// partial movie, the sound extraction, the encoder feed and its sound relay), let go of in
// the reverse order when the run ends. Each phase returns false once the report is final.
class MovieConversion {
 public:
  MovieConversion(const ConversionJob& job, Observer& observer)
      : job_(job),
        observer_(observer),
        input_(job.video ? job.video->path() : std::string()),
        output_(job.output) {
    report_.output_name = job.output;
  }
  ConversionReport Run();

 private:
  void Begin();
  bool CheckPaths();
  bool OpenDepth();
  bool Prepare();
  void StartSoundAndShowTheVideo();
  bool ArmRecording();
  bool Record();
  bool AwaitSound();
  // The job that records the video once more, when it delivered more than it announced.
  std::optional<ConversionJob> LongerRecording();
  void NoteShortPicture();
  void ExportAsAsked();
  void FinishDepth();
  bool ExportOnce(const std::string& current, ExportResult& exported, std::string& unfinished);
  // The next name another compression writes to; empty when the user has had enough.
  std::string NextOutput(const std::string& current, const ExportResult& exported,
                         const std::string& unfinished);

  // A refusal before anything is recorded: one message, the report, and the graph left as
  // the Convert command found it.
  bool Refuse(const std::string& text, const std::string& line) {
    observer_.Ask(text, kErrorCaption, platform::kMbIconError);
    LogLine("Convert Movie refused: " + line);
    report_.failure = line;
    Publish(report_);
    return false;
  }
  bool Refuse(const std::string& text) { return Refuse(text, OneLine(text)); }
  FrameRecording* Recording() { return recording_ ? &*recording_ : nullptr; }
  // A run that got as far as arming the recording ends: the message, the report, the clean-up.
  bool Fail(const std::string& text, const std::string& line) {
    if (!text.empty()) observer_.Ask(text, kErrorCaption, platform::kMbIconError);
    report_.failure = line;
    AbortFeed(*feed_);
    CleanUp(temp_folder_, job_.video.get(), Recording(), sound_, job_.keep_work_files, observer_);
    Publish(report_);
    return false;
  }
  // Looked at once a second: a partial movie no longer in the output's folder (renamed,
  // replaced or removed) can never take the output's name, so the run ends at once.
  bool OutputLost() {
    if (!output_lost_.empty()) return true;
    const int64_t now = platform::MonotonicMs();
    if (now < next_output_check_ms_) return false;
    next_output_check_ms_ = now + 1000;
    if (movie_.InPlace()) return false;
    output_lost_ = OutputFolderLost(watched_output_);
    return true;
  }
  bool FailForOutput() {
    LogLine("No movie: " + output_lost_);
    return Fail("The movie could not be written:\r\n" + output_lost_ + ".\r\n" +
                    "The conversion has been stopped.",
                output_lost_);
  }
  bool FailForSound() {
    return Fail("The sound of the VIDEO " + input_ + " could not be extracted:\r\n" +
                    sound_.Reason() + "\r\nThe conversion has been stopped.",
                sound_problem_);
  }

  const ConversionJob& job_;
  Observer& observer_;
  const std::string input_;
  const std::string& output_;
  // The temporary folder of this recording, fixed at the start: the window may change
  // TempFolder while it runs.
  const std::string& temp_folder_ = job_.temp_folder;
  ConversionReport report_;
  std::shared_ptr<platform::MediaGraph> graph_;
  VideoFigures figures_;  // the video's, as its graph build read them

  // The picture: the video's frame size, and the frame files' (another layout than the
  // red/cyan merge makes them of its own size, fixed for the recording).
  int32_t width_ = 0;
  int32_t height_ = 0;
  bool stereo_views_ = false;
  bool depth_map_ = false;
  std::shared_ptr<DepthStage> depth_;  // the depth-map effect's, shared with the recording
  frames::OutputLayout layout_ = frames::OutputLayout::kAnaglyph;
  bool layout_frames_ = false;
  frames::LayoutSize file_size_{};
  int32_t numframes_ = 0;
  int64_t time_per_frame_ = 0;
  // Frame files serve another compression only: a run that offers none feeds the encoder
  // from memory and writes nothing but the sound file.
  bool frame_files_ = false;
  std::string sound_file_;
  EncoderJob encoder_job_;

  // The recording's outcome.
  bool feed_begun_ = false;
  bool sound_seen_ = false;
  std::string sound_problem_;
  // Why the movie cannot be finished where it is made, found while recording or encoding.
  std::string output_lost_;
  std::string watched_output_ = output_;
  int64_t next_output_check_ms_ = 0;
  int32_t slots_ = 0;
  double fps_ = 0.0;
  double picture_seconds_ = 0.0;
  bool short_picture_ = false;
  bool sound_outlasts_ = false;

  platform::FolderLock folder_lock_;
  PartialMovie movie_;
  SoundExtraction sound_;
  std::optional<EncoderFeed> feed_;
  SoundRelay relay_;
  // The grabber's callback from the arming to the recording's end; it hands frames to the
  // feed, so it goes first.
  std::optional<FrameRecording> recording_;
};

void MovieConversion::Begin() {
  Shell.EstimateText.Set("00.00.00");
  Shell.ElapsedText.Set("00.00.00");
  LogLine("Convert Movie Begin " + ClockText());
  LogLine("Output file " + output_);
  LogLine("Output Folder Free Space:");
  LogLine(FormatByteGroups(platform::FreeSpaceBytes(FolderOf(output_))) + " bytes");
  if (job_.video) {
    graph_ = job_.video->graph();
    figures_ = job_.video->figures();
  }
  if (graph_) graph_->SetNoSyncSource();
}

// Everything that can be refused before anything is written.
bool MovieConversion::CheckPaths() {
  if (input_.empty()) return Refuse(kNoVideoText, "no video is loaded");
  if (SameFile(output_, input_)) {
    return Refuse(std::string(kSameNameText) + kSameNameReason,
                  "the output file is the input file");
  }
  if (!graph_) {
    report_.failure = "no video is loaded";
    Publish(report_);
    return false;
  }
  if (std::string problem = OutputProblem(output_); !problem.empty()) return Refuse(problem);
  width_ = figures_.FrameW;
  height_ = figures_.FrameH;
  // Frame files lose 16 columns: a picture that narrow would leave nothing to write.
  if (width_ <= frames::kCropColumns) {
    return Refuse("The VIDEO is " + NumberText(width_) + " pixels wide; at least " +
                      NumberText(frames::kCropColumns + 1) + " are needed for a conversion.",
                  "the video is too narrow");
  }
  stereo_views_ = Settings.StereoOn == 1;
  layout_ = RecordedLayout(Settings.StereoOn, Settings.Layout);
  depth_map_ = Settings.StereoOn == 1 && Settings.StereoMode == kDepthMapMode;
  layout_frames_ = layout_ != frames::OutputLayout::kAnaglyph || depth_map_;
  file_size_ = layout_frames_
                   ? frames::LayoutOutputSize(layout_, width_ - frames::kCropColumns, height_)
                   : frames::LayoutSize{width_ - frames::kCropColumns, height_, 0};
  if (std::string problem = SizeProblem(file_size_.width, file_size_.height); !problem.empty()) {
    return Refuse(problem);
  }
  // Frames too large for the memory there is would end the run (or the machine's other
  // programs) halfway; they are refused first.
  const FrameSize movie_size =
      ResizedFrameSize(Settings.ResizeMode, file_size_.width, file_size_.height);
  if (std::string problem = MemoryProblem(width_, height_, movie_size.width, movie_size.height,
                                          platform::AvailableMemoryBytes(),
                                          platform::ProcessMemoryLimitBytes(), depth_map_);
      !problem.empty()) {
    return Refuse(problem);
  }
  if (std::string problem = CheckPathForCommandLine(temp_folder_, "temporary folder's name");
      !problem.empty()) {
    return Refuse(problem);
  }
  std::error_code error;
  std::filesystem::create_directories(platform::PathOf(temp_folder_), error);
  // Two conversions in one folder would delete and overwrite each other's frames.
  if (!job_.temp_folder_held && !folder_lock_.TryLock(temp_folder_) && !folder_lock_.busy()) {
    // No lock file can be made there: so no frame file either.
    const std::string why = platform::FileErrorText(folder_lock_.error());
    return Refuse("The temporary folder " + temp_folder_ + " cannot be written (" + why +
                      ").\r\nPlease choose another one.",
                  "the temporary folder " + temp_folder_ + " cannot be written (" + why + ")");
  }
  if (!job_.temp_folder_held && !folder_lock_.held()) {
    return Refuse("The temporary folder " + temp_folder_ +
                      " is in use by another conversion.\r\nPlease choose another one.",
                  "the temporary folder " + temp_folder_ + " is in use by another conversion");
  }
  if (depth_map_ && !OpenDepth()) return false;
  if (!movie_.Reserve(output_)) {
    return Refuse("The output file cannot be created in its folder:\r\n" + output_);
  }
  return true;
}

// The depth-map effect's depth source and output, refused before anything is written when
// the file cannot be read or the output would replace a file the run reads or writes.
bool MovieConversion::OpenDepth() {
  const DepthChoice& choice = job_.depth;
  if (!choice.out.empty() && (SameFile(choice.out, input_) || SameFile(choice.out, output_) ||
                              (!choice.video.empty() && SameFile(choice.out, choice.video)))) {
    return Refuse("The depth output " + choice.out +
                      " is a file this conversion reads or writes.\r\nPlease choose another name.",
                  "the depth output is a file this conversion reads or writes");
  }
  depth_ = std::make_shared<DepthStage>();
  std::string failure;
  if (!depth_->Open(choice, width_, height_, FramesPerSecond(figures_.TimePerFrame), failure)) {
    depth_.reset();
    return Refuse(failure);
  }
  LogLine("Depth map from " + depth_->SourceText());
  return true;
}

// The graph rewound, the temporary folder emptied, and the room the recording needs.
bool MovieConversion::Prepare() {
  observer_.PositionBar(0);
  platform::RefTime start = 0;
  graph_->SetPositions(&start, platform::kSeekAbsolutePositioning, nullptr,
                       platform::kSeekNoPositioning);
  graph_->Pause();
  // The window's graph was playing a moment ago: give it time to settle.
  if (job_.settle_pauses) platform::SleepMs(100);
  LogLine("Set Stream to 0 position");
  if (job_.settle_pauses) platform::SleepMs(10);

  // The clean-up ends before the sound extraction starts, so it cannot take the new file.
  // No writer is running: the last run waited for its own.
  DeleteWorkFiles(temp_folder_);
  // What the clean-up left under a work file's name is no file of ours.
  if (std::string foreign = ForeignWorkFileEntry(temp_folder_); !foreign.empty()) {
    return Refuse("The temporary folder " + temp_folder_ + " holds " + foreign +
                  ", which is a link or a folder, not a file of this program.\r\n"
                  "Please remove it or choose another temporary folder.");
  }
  numframes_ = figures_.numframes;
  {
    std::lock_guard lock(report_mutex);
    polled.numframes = numframes_;
  }
  frame_files_ = job_.offer_another_compression || job_.keep_work_files;
  // A header may claim any length (a damaged FLV says 1000 hours of its 6 seconds); no
  // file holds a second of video in fewer bytes than this, so a longer claim is not what
  // the room is reckoned for.
  constexpr double kLeastBytesPerSecond = 256.0;
  double seconds = std::max(figures_.DurationSeconds, job_.recorded_seconds);
  int32_t frames = numframes_;
  std::error_code size_error;
  const auto input_bytes = std::filesystem::file_size(platform::PathOf(input_), size_error);
  if (!size_error && seconds > static_cast<double>(input_bytes) / kLeastBytesPerSecond) {
    const double held = static_cast<double>(input_bytes) / kLeastBytesPerSecond;
    LogLine("Note: the video announces " + FormatHms(seconds) + ", more than its " +
            Megabytes(static_cast<int64_t>(input_bytes)) + " can hold; the room is reckoned for " +
            FormatHms(held));
    frames = static_cast<int32_t>(std::min<double>(
        numframes_, std::ceil(held * std::max(FramesPerSecond(figures_.TimePerFrame), 1.0))));
    seconds = held;
  }
  const int64_t needed =
      RecordingBytesNeeded(frame_files_ ? frames : 0, file_size_.width, file_size_.height, seconds);
  // A file past the limit ends its writer (the sound tool, or this process) at once.
  const int64_t largest =
      std::max(RecordingBytesNeeded(0, 0, 0, seconds),
               frame_files_ ? frames::FrameFileSize(file_size_.width, file_size_.height) : 0);
  if (const uint64_t limit = platform::FileSizeLimitBytes();
      limit != 0 && static_cast<uint64_t>(largest) > limit) {
    const std::string why = "files of at most " + SizeText(static_cast<int64_t>(limit)) +
                            " may be written (ulimit -f), and the conversion needs one of about " +
                            SizeText(largest);
    return Refuse("This VIDEO cannot be converted here:\r\n" + why + ".", why);
  }
  const auto free_bytes = static_cast<int64_t>(platform::FreeSpaceBytes(temp_folder_));
  if (needed > free_bytes) {
    return Refuse("Not enough free space in the temporary folder " + temp_folder_ +
                      ":\r\nthe conversion needs about " + Megabytes(needed) + ", " +
                      Megabytes(free_bytes) + " are free.",
                  "not enough free space in " + temp_folder_ + " (needs " + Megabytes(needed) +
                      ", " + Megabytes(free_bytes) + " free)");
  }
  return true;
}

// The sound extraction goes first: its tool starts up while the recording is made ready
// (the frame buffers' pages alone take a fifth of a second at 1080p).
void MovieConversion::StartSoundAndShowTheVideo() {
  LogLine("Run MakeWave 0");
  sound_file_ = SoundFile(temp_folder_);
  // The encoder takes the sound as far as its -t: no further is extracted (a second past
  // it, for the rounding).
  const double movie_seconds = std::max(figures_.DurationSeconds, job_.recorded_seconds);
  sound_.Start(ToolPath("ffmpeg"), input_, sound_file_, SoundMessagesFile(temp_folder_),
               movie_seconds > 0 ? std::ceil(movie_seconds) + 1 : 0);
  LogLine("Run MakeWave 1");

  time_per_frame_ = figures_.TimePerFrame;
  observer_.Label(kIdFileNameLabel, " " + output_ + " ");
  observer_.Label(kIdFrameSizeLabel, NumberText(width_) + "x" + NumberText(height_));
  observer_.Label(kIdFrameRateLabel, FormatMask0000(FramesPerSecond(time_per_frame_)) + " fps");
  observer_.Label(kIdFrameCountLabel, NumberText(numframes_));
  observer_.Label(kIdDurationLabel, FormatHms(figures_.DurationSeconds));
}

// The encoder job, the feed, the frame placement and callback, and the conversion arrays.
bool MovieConversion::ArmRecording() {
  LogLine("Set MovieDuration");
  Video.Converting = 1;
  WaitForPreviewPoll();  // from here on only the streaming thread touches the frames
  feed_.emplace(file_size_.width, file_size_.height, 4,
                Settings.Chroma444 != 0 && TakesFullColour(output_));
  encoder_job_.FrameFileWidth = file_size_.width;
  encoder_job_.FrameFileHeight = file_size_.height;
  encoder_job_.Layout = layout_frames_ ? static_cast<int32_t>(layout_) : 0;
  encoder_job_.TimePerFrame = time_per_frame_;
  encoder_job_.PixelAspectX = figures_.PixelAspectX;
  encoder_job_.PixelAspectY = figures_.PixelAspectY;
  encoder_job_.Primaries = figures_.Primaries;
  encoder_job_.Transfer = figures_.Transfer;
  encoder_job_.DurationSeconds =
      job_.recorded_seconds > 0 ? job_.recorded_seconds : figures_.DurationSeconds;
  encoder_job_.TempFolder = temp_folder_;
  encoder_job_.OutputName = movie_.path();
  {
    std::lock_guard lock(report_mutex);
    polled.folder = temp_folder_;
  }
  // A video with sound need not wait for its extraction: the encoder reads the sound
  // through the relay as the file grows, and starts up while the recording is made ready.
  if (figures_.HasSound && sound_.Running() &&
      relay_.Start(sound_file_, SoundPipeFile(temp_folder_), sound_)) {
    LogLine("The encoder reads the sound while it is extracted");
    StartFeed(*feed_, encoder_job_, true);
    feed_begun_ = true;
  }
  RecordingPlan plan;
  plan.folder = temp_folder_;
  plan.time_per_frame = time_per_frame_;
  plan.sink = &*feed_;
  plan.write_files = frame_files_;
  plan.observer = &observer_;
  plan.numframes = numframes_;
  plan.layout = layout_frames_ ? layout_ : frames::OutputLayout::kAnaglyph;
  plan.depth = depth_;
  recording_.emplace(std::move(plan));
  LogLine("Determine CUTOFF");
  LogLine("Determine DMEM1, DMEM2, DMEM3, DMEM4");
  const bool arrays = recording_->AllocateArrays();
  LogLine("Determine DMEM1, DMEM2, DMEM3, DMEM4 END");
  LogLine("Determine sDIB");
  PrepareFileFrame();
  LogLine("Determine sDIB END");
  if (!arrays) {
    return Fail("Not enough memory for the frames of this VIDEO.",
                "not enough memory for the frames");
  }
  return true;
}

// Every frame of the video through the frame callback, until its end, a stall, a stop, a
// full disk or a lost sound.
bool MovieConversion::Record() {
  LogLine("Run MakeWave");
  observer_.Label(kIdOperationLabel, "     RECORD");
  LogLine("pBasicAudio 0");
  graph_->PutVolume(platform::kVolumeSilent);
  LogLine("pBasicAudio 1");
  if (numframes_ == 0) {
    // Nothing to record: back to idle, as after any other run.
    return Fail("The VIDEO reports no frames; nothing was converted.",
                "the video reports no frames");
  }

  recording_->RestartEstimate();
  LogLine("Begin Convert Process");
  FrameStore.FrameCounter = 0;  // before the first frame can arrive
  InstallFrameCallback(graph_.get(), *recording_);
  // An end of stream the preview reached before the rewind is still queued; taken for this
  // recording's end it would cut the movie after its first frames.
  DiscardGraphEvents(*graph_);
  LogLine(frame_files_ ? "Frames to the encoder from memory; frame files written beside"
                       : "Frames to the encoder from memory; no frame files");
  const int64_t record_start = platform::MonotonicMs();
  graph_->Run();
  int32_t frames_done = 0;
  EncoderFeed& feed = *feed_;
  const RecordEnd end = RecordLoop(
      *graph_, *recording_, &frames_done,
      [&] {
        if (OutputLost()) return true;
        if (sound_seen_ || sound_.Running()) return false;
        sound_seen_ = true;
        // A sound track that cannot be had ends the run now rather than after the recording.
        sound_problem_ = SoundProblem(sound_, sound_.Wait(), sound_file_, figures_.HasSound);
        if (!sound_problem_.empty()) return true;
        if (!feed_begun_) StartFeed(feed, encoder_job_, false);
        return false;
      },
      [&feed] { return feed.recording_waits(); }, observer_);
  // The sound may be found lost in the very wait that saw the video's end.
  const bool sound_lost =
      (end == RecordEnd::kCalledOff && output_lost_.empty()) || !sound_problem_.empty();
  // A frame waiting for room in the feed's queue would hold the recording's end.
  if (end != RecordEnd::kEnded || sound_lost) AbortFeed(feed);
  const RecordedFrames recorded = StopRecording(graph_.get(), &*recording_);
  LogLine("Recording time " + NumberText(platform::MonotonicMs() - record_start) + " ms");
  report_.frames_delivered = FrameStore.FrameCounter;
  const frames::FrameFileWriter::Stats stats = recording_->file_stats();
  report_.failed_frame_files = stats.failed;
  LogLine("Frames delivered " + NumberText(report_.frames_delivered) + ", frame files written " +
          NumberText(stats.written) + ", failed " + NumberText(stats.failed));

  if (stats.failed > 0 || recorded.slots == 0) AbortFeed(feed);
  if (end == RecordEnd::kStopped) {
    report_.stopped = true;
    return Fail("", "stopped during recording");
  }
  if (!output_lost_.empty()) return FailForOutput();
  if (sound_lost) {
    LogSoundEnd(sound_.Wait());
    return FailForSound();
  }
  if (end == RecordEnd::kWriteFailed || stats.failed > 0) {
    return Fail("A frame file could not be written to the temporary folder " + temp_folder_ +
                    " (is the disk full?).\r\nThe conversion has been stopped.",
                "frame files could not be written to " + temp_folder_ + " (disk full?)");
  }
  if (recorded.slots == 0) {
    return Fail("No frame could be read from the VIDEO " + input_ + ".",
                "no frame could be read from " + input_);
  }
  slots_ = recorded.slots;
  // The fed encoder repeats a picture over a gap itself; the files are there for the
  // exports from the folder.
  report_.frame_files =
      frame_files_ ? static_cast<int32_t>(stats.written) + RepeatFrames(temp_folder_, recorded.gaps)
                   : slots_;
  report_.recorded = true;
  // Done means the whole movie: the counter gives its frames, repeats included, not the
  // frames decoded, and the bar is full.
  observer_.Label(kIdFramesDoneLabel, NumberText(slots_));
  observer_.PositionBar(kPositionBarMaxWidth);
  feed.Finish(slots_);
  return true;
}

// The sound extraction's end, when the recording did not see it already.
bool MovieConversion::AwaitSound() {
  if (sound_seen_) {
    LogSoundEnd(sound_.Wait());
    return true;
  }
  const int32_t status = WaitForSound(sound_, observer_);
  if (Conversion.StopRequested != 0) {
    AbortFeed(*feed_);
    report_.stopped = true;
    return Fail("", "stopped during recording");
  }
  sound_problem_ = SoundProblem(sound_, status, sound_file_, figures_.HasSound);
  if (!sound_problem_.empty()) {
    AbortFeed(*feed_);
    return FailForSound();
  }
  return true;
}

// A video that delivers more than the length it announced (a header that says less than
// the file holds, files joined end to end) is converted whole: the encoder's -t covers
// what was recorded. The encoder fed while recording has already stopped at the old one
// and the sound was extracted only as far, so the video is recorded once more.
std::optional<ConversionJob> MovieConversion::LongerRecording() {
  fps_ = FramesPerSecond(time_per_frame_);
  picture_seconds_ = static_cast<double>(slots_) / (fps_ > 0 ? fps_ : 30.0);
  const double covered = std::ceil(encoder_job_.DurationSeconds);
  if (picture_seconds_ - covered <= 1.0 / (fps_ > 0 ? fps_ : 30.0)) return std::nullopt;
  LogLine("Note: the video delivered " + NumberText(slots_) + " frames (" +
          FormatMask0000(picture_seconds_) + " s), more than the " +
          FormatMask0000(figures_.DurationSeconds) +
          " s it announced; the movie covers what was recorded");
  encoder_job_.DurationSeconds = picture_seconds_;
  if (job_.recorded_seconds > 0 || Conversion.StopRequested != 0) return std::nullopt;
  LogLine("The video is recorded again for an encoder that takes all of it");
  AbortFeed(*feed_);
  relay_.Stop();
  movie_.Discard();
  if (depth_) depth_->Discard();  // the next recording writes it anew
  CleanUp(temp_folder_, job_.video.get(), Recording(), sound_, job_.keep_work_files, observer_);
  ConversionJob again = job_;
  again.recorded_seconds = picture_seconds_;
  again.temp_folder_held = true;  // this run holds it
  return again;
}

// A video that ends well before the length it announced (a damaged or cut file) is
// converted as far as it goes, and the user is told. A sound track that goes on past the
// picture (by more than the -t's rounding may leave) is cut to it as well, with no word:
// the clip is simply that long.
void MovieConversion::NoteShortPicture() {
  const int64_t tolerance = std::max<int64_t>(numframes_ / 10, std::llround(fps_));
  short_picture_ = numframes_ - int64_t{slots_} > tolerance;
  std::error_code size_error;
  const auto sound_bytes = std::filesystem::file_size(platform::PathOf(sound_file_), size_error);
  sound_outlasts_ = !size_error &&
                    static_cast<double>(sound_bytes) / kWaveBytesPerSecond > picture_seconds_ + 0.5;
  if (short_picture_) {
    report_.warning = "the video ended after " + NumberText(slots_) + " of the " +
                      NumberText(numframes_) + " frames it announced (" +
                      FormatMask0000(picture_seconds_) + " of " +
                      FormatMask0000(figures_.DurationSeconds) + " s)";
    LogLine("Warning: " + report_.warning);
  }
  // Files of two codecs joined end to end: only the first stream is decoded.
  if (const std::string beyond = graph_->VideoBeyondEnd(); !beyond.empty()) {
    const std::string note = "the video goes on in another stream (" + beyond +
                             ") that is not converted: the movie stops after " +
                             NumberText(slots_) + " frames (" + FormatMask0000(picture_seconds_) +
                             " s)";
    LogLine("Warning: " + note);
    report_.warning = report_.warning.empty() ? note : report_.warning + "; " + note;
  }
}

// One export into `current`; false when it was stopped (the run has then ended).
bool MovieConversion::ExportOnce(const std::string& current, ExportResult& exported,
                                 std::string& unfinished) {
  LogLine("ConvertRectExport Begin");
  const int64_t export_start = platform::MonotonicMs();
  const bool first = report_.exports == 0;
  encoder_job_.OutputName = movie_.path();
  watched_output_ = current;
  output_lost_.clear();
  const std::function<bool()> lost = [this] { return OutputLost(); };
  exported = first ? FirstExport(encoder_job_, *feed_, frame_files_, observer_, lost)
                   : ConvertRectExport(encoder_job_, observer_, nullptr, lost);
  if (exported.written && (short_picture_ || sound_outlasts_) && figures_.HasSound) {
    CutToPicture(movie_.path(), picture_seconds_);
  }
  if (exported.written) {
    MarkStereoViews(movie_.path(), stereo_views_, static_cast<int32_t>(layout_));
  }
  unfinished.clear();
  if (!exported.stopped) {
    unfinished =
        UnfinishedMovie(movie_, current, exported,
                        std::min(picture_seconds_, std::ceil(encoder_job_.DurationSeconds)),
                        figures_.HasSound, temp_folder_);
  }
  const bool written = exported.written && unfinished.empty() && movie_.Commit(&unfinished);
  if (!written) movie_.Discard();
  if (!unfinished.empty()) LogLine("No movie: " + unfinished);
  LogLine("ConvertRectExport End");
  LogLine("Export time " + NumberText(platform::MonotonicMs() - export_start) + " ms");
  ++report_.exports;
  report_.output_name = current;
  report_.movie_written = written;
  if (exported.stopped) {
    report_.stopped = true;
    return Fail("", "stopped during encoding of " + current);
  }
  report_.failure = written ? std::string()
                    : !unfinished.empty()
                        ? unfinished
                        : "the encoder could not write " + current + CauseText(exported.cause);
  Publish(report_);
  return true;
}

std::string MovieConversion::NextOutput(const std::string& current, const ExportResult& exported,
                                        const std::string& unfinished) {
  const std::string cause = !unfinished.empty()      ? "\r\n" + unfinished
                            : exported.cause.empty() ? std::string()
                                                     : "\r\nThe encoder says: " + exported.cause;
  const int answer =
      report_.movie_written
          ? observer_.Ask(SuccessText(report_.warning), kSuccessCaption,
                          platform::kMbOkCancel | platform::kMbIconInformation)
          : observer_.Ask("The movie could not be written:\r\n" + current + cause +
                              "\r\nThe encoder's messages are in the run log " + LogFilePath() +
                              "\r\nDo you want to save it with another compression value ?",
                          kErrorCaption, platform::kMbOkCancel | platform::kMbIconError);
  if (answer != platform::kIdOk) return std::string();
  for (;;) {
    std::string next = AnotherCompressionDialog(current, observer_);
    if (next.empty()) return next;
    // Encoding over the input would destroy the very video the frames came from.
    std::string problem =
        SameFile(next, input_) ? std::string(kSameNameText) + kSameNameReason : OutputProblem(next);
    if (problem.empty() && !movie_.Reserve(next)) {
      problem = "The output file cannot be created in its folder:\r\n" + next;
    }
    if (problem.empty()) return next;
    observer_.Ask(problem, kErrorCaption, platform::kMbIconError);
  }
}

// The first export, then as many more as the user asks for; then the clean-up.
void MovieConversion::ExportAsAsked() {
  std::string current = output_;
  for (;;) {
    ExportResult exported;
    std::string unfinished;
    if (!ExportOnce(current, exported, unfinished)) return;
    if (!job_.offer_another_compression) break;
    current = NextOutput(current, exported, unfinished);
    if (current.empty()) break;
  }
  CleanUp(temp_folder_, job_.video.get(), Recording(), sound_, job_.keep_work_files, observer_);
  Publish(report_);
}

// The depth output is kept with the movie it goes with: a run that wrote none leaves none.
void MovieConversion::FinishDepth() {
  if (!depth_) return;
  std::string failure;
  if (!report_.movie_written) {
    depth_->Discard();
  } else if (!depth_->Finish(failure)) {
    observer_.Ask(failure, kErrorCaption, platform::kMbIconError);
    LogLine(OneLine(failure));
    report_.failure = OneLine(failure);
    Publish(report_);
  }
}

ConversionReport MovieConversion::Run() {
  Begin();
  if (!CheckPaths() || !Prepare()) return report_;
  StartSoundAndShowTheVideo();
  if (!ArmRecording() || !Record() || !AwaitSound()) return report_;
  if (std::optional<ConversionJob> again = LongerRecording()) {
    return ConvertMovie(*again, observer_);
  }
  NoteShortPicture();
  ExportAsAsked();
  FinishDepth();
  return report_;
}

}  // namespace

ConversionReport ConvertMovie(const ConversionJob& job, Observer& observer) {
  return MovieConversion(job, observer).Run();
}

}  // namespace zqr
