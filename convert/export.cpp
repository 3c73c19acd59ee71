// The export stage and the another-compression window's logic.
#include "convert/export.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "convert/convert_state.h"
#include "convert/encoder_command.h"
#include "convert/encoder_feed.h"
#include "core/control_ids.h"
#include "core/numbers.h"
#include "core/options.h"
#include "core/run_log.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/system.h"

namespace zqr {

namespace {
double NowSeconds() {
  return static_cast<double>(platform::MonotonicMs()) / 1000.0;
}

std::string TwoDigits(int64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%02lld", static_cast<long long>(value));
  return text;
}
}  // namespace

std::string ProcessingTimeText(double elapsed_seconds) {
  const double e = elapsed_seconds < 0 ? 0 : elapsed_seconds;
  const auto hours = static_cast<int64_t>(e / 3600);
  const auto minutes = static_cast<int64_t>((e - 3600.0 * hours) / 60);
  const auto seconds = static_cast<int64_t>(e - 3600.0 * hours - 60.0 * minutes);
  return "Processing time: " + TwoDigits(hours) + ":" + TwoDigits(minutes) + ":" +
         TwoDigits(seconds);
}

void CompressionAnimation::Step(double now_seconds) {
  int* green = view_.green;
  green[0] += 5;
  for (int k = 0; k < 4; ++k) {
    if (green[k] > 255) {
      green[k] = 255;
      green[k + 1] += 5;
    }
  }
  if (green[4] > 255) {
    for (int k = 0; k < 5; ++k) green[k] = 20;
  }
  if (++tick_ == 2) {
    tick_ = 0;
    view_.picture_index = view_.picture_index % 4 + 1;
    view_.elapsed_text = ProcessingTimeText(now_seconds - start_);
  }
}

namespace {
// The last `limit` bytes of a file (all of a shorter one); empty when it cannot be read.
std::string FileTail(const std::string& path, long limit) {
  std::FILE* file = platform::OpenFile(path, "rb");
  if (file == nullptr) return std::string();
  std::string text;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long size = std::ftell(file);
    const long from = size > limit ? size - limit : 0;
    if (size > 0 && std::fseek(file, from, SEEK_SET) == 0) {
      text.resize(static_cast<size_t>(size - from));
      text.resize(std::fread(text.data(), 1, text.size(), file));
    }
  }
  std::fclose(file);
  return text;
}
}  // namespace

int64_t EncoderFramesDone(const std::string& temp_folder) {
  // ffmpeg rewrites its status line with carriage returns; the last "frame=" counts.
  const std::string tail = FileTail(EncoderMessagesFile(temp_folder), 4096);
  const size_t at = tail.rfind("frame=");
  if (at == std::string::npos) return 0;
  return static_cast<int64_t>(LeadingNumber(std::string_view(tail).substr(at + 6)));
}

namespace {
bool OutputWritten(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(platform::PathOf(path), error);
  return !error && size > 0;
}

// The encoder's last lines go to the run log when it failed, so the user can see why.
void LogEncoderMessages(const std::string& temp_folder) {
  const std::string all = FileTail(EncoderMessagesFile(temp_folder), 16384);
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < all.size()) {
    size_t end = all.find_first_of("\r\n", begin);
    if (end == std::string::npos) end = all.size();
    std::string line = all.substr(begin, end - begin);
    if (!TrimBlanks(line).empty()) lines.push_back(std::move(line));
    begin = end + 1;
  }
  const size_t first = lines.size() > 12 ? lines.size() - 12 : 0;
  for (size_t k = first; k < lines.size(); ++k) LogLine("FFMPEG says: " + lines[k]);
}
}  // namespace

ExportResult ConvertRectExport(const EncoderJob& job, Observer& observer, EncoderFeed* feed,
                               const std::function<bool()>& lost) {
  platform::SleepMs(100);
  CompressionAnimation animation(NowSeconds());
  observer.CompressionProgress(true);
  observer.UpdateCompressionProgress(animation.view());

  const std::string temp_folder = job.TempFolder.empty() ? Shell.TempFolder : job.TempFolder;
  const std::string messages = EncoderMessagesFile(temp_folder);
  std::error_code error;
  platform::ChildProcess encoder;
  bool running = true;
  if (feed == nullptr) {
    std::filesystem::remove(platform::PathOf(messages), error);
    const EncoderInputs inputs = EncoderInputsFor(job);
    const std::string command = EncoderCommandLine(inputs);
    LogEncoderCommand(inputs, command);
    platform::Redirections redirections;
    redirections.error_path = messages;
    redirections.new_files = true;  // removed just before: made new
    running = !command.empty() && encoder.Start(command, redirections, false);
  }
  // A feed's encoder has been writing its messages since the recording began.

  auto encoder_running = [&] { return feed != nullptr ? !feed->EncoderEnded() : !encoder.Ended(); };
  ExportResult result;
  Conversion.EncoderExitCode = -1;
  Conversion.EncoderRunning = 1;
  while (running) {
    if (Conversion.StopRequested != 0) {
      result.stopped = true;
      if (feed != nullptr) {
        feed->Abort();
      } else {
        encoder.Kill();
      }
      break;
    }
    if (lost && lost()) {
      if (feed != nullptr) {
        feed->Abort();
      } else {
        encoder.Kill();
      }
      break;
    }
    running = encoder_running();
    animation.Step(NowSeconds());
    observer.UpdateCompressionProgress(animation.view());
    // The animation moves every 50 ms, but the end is looked for every 5: it is the last
    // step of a batch run.
    for (int slice = 0; slice < 10 && running && Conversion.StopRequested == 0; ++slice) {
      observer.Wait(5);
      running = encoder_running();
    }
  }
  // A stop asked for while the encoder was finishing (the user confirming the window's
  // close, say) still stops: the user was told the movie would not be written.
  if (Conversion.StopRequested != 0) result.stopped = true;
  result.exit_status = feed != nullptr ? feed->Wait() : encoder.Wait();
  Conversion.EncoderExitCode = result.exit_status;
  Conversion.EncoderRunning = 0;
  observer.CompressionProgress(false);

  // ffmpeg ends with status 0 even when it could not write the end of the movie (a full
  // disk): its messages are read as well.
  const std::string said = FileTail(messages, 16384);
  const std::string write_error = EncoderWriteError(said);
  result.written = !result.stopped && result.exit_status == 0 && write_error.empty() &&
                   OutputWritten(job.OutputName);
  LogLine("Encoder exit status " + NumberText(result.exit_status) +
          (result.written ? "" : ", no movie written"));
  if (!write_error.empty()) LogLine("The encoder could not write the movie: " + write_error);
  if (!result.written && !result.stopped) {
    LogEncoderMessages(temp_folder);
    result.cause = EncoderFailureCause(said);
    if (result.cause.empty()) result.cause = write_error;
  }
  std::filesystem::remove(platform::PathOf(messages), error);
  return result;
}

std::string EncoderFailureCause(const std::string& messages) {
  // The lines that name a cause the user can act on; the last one wins.
  static constexpr const char* kCauses[] = {"No space left on device", "Permission denied",
                                            "Disk quota exceeded", "File too large",
                                            "Read-only file system"};
  size_t best = std::string::npos;
  std::string cause;
  for (const char* text : kCauses) {
    const size_t at = messages.rfind(text);
    if (at != std::string::npos && (best == std::string::npos || at > best)) {
      best = at;
      cause = text;
    }
  }
  return cause;
}

std::string EncoderWriteError(const std::string& messages) {
  static constexpr const char* kWriteErrors[] = {
      "Error writing trailer",   "Error muxing a packet",
      "Error closing file",      "av_interleaved_write_frame()",
      "No space left on device", "Disk quota exceeded",
      "File too large"};
  for (const char* text : kWriteErrors) {
    const size_t at = messages.find(text);
    if (at == std::string::npos) continue;
    const size_t before = messages.find_last_of("\r\n", at);
    const size_t begin = before == std::string::npos ? 0 : before + 1;
    const size_t end = messages.find_first_of("\r\n", at);
    return TrimBlanks(messages.substr(begin, end == std::string::npos ? end : end - begin));
  }
  return std::string();
}

std::vector<std::pair<std::string, std::string>> RectangularVideoFilters() {
  const std::string head = "Rectangular VIDEO";
  return {
      {head + " FLV VIDEO files (*.flv)", "*.flv"},
      {head + " AVI 2.0 VIDEO files (*.AVI)", "*.avi"},
      {head + " MOV VIDEO files (*.MOV)", "*.mov"},
      {head + " MP4 VIDEO files (*.MP4)", "*.mp4"},
      {head + " MKV VIDEO files (*.MKV)", "*.mkv"},
      {head + " WEBM VIDEO files (*.WEBM)", "*.webm"},
      {head + " M4V VIDEO files (*.M4V)", "*.m4v"},
      {head + " OGG VIDEO files (*.OGG, *.OGV)", "*.ogg;*.ogv"},
  };
}

std::vector<std::string> CompressionListEntries() {
  std::vector<std::string> entries = {"Default Quality", "1:Best Quality"};
  for (int v = 2; v <= 20; ++v) entries.push_back(std::to_string(v) + ":");
  entries.push_back("21:Lower Quality");
  return entries;
}

std::vector<std::string> ResizeListEntries() {
  return {"Natural size", "Resize 90%", "Resize 80%", "Resize 70%", "Resize 60%", "Resize 50%"};
}

std::string ChooseRectangularVideo(const std::string& folder, Observer& observer) {
  platform::FileDialogRequest request;
  request.title = "Save Rectangular VIDEO";
  request.folder = folder;
  request.filters = RectangularVideoFilters();
  request.default_extension = "FLV";
  request.save = true;
  request.overwrite_prompt = true;
  // A save dialog that only accepts existing files could never name a new movie.
  request.file_must_exist = false;
  std::string name = observer.ChooseFile(request);
  observer.Wait(1);
  if (TrimBlanks(name).empty()) return std::string();
  Shell.VideoFolder = platform::PathText(platform::PathOf(TrimBlanks(name)).parent_path());
  return name;
}

std::string AnotherCompressionDialog(const std::string& output_name, Observer& observer) {
  platform::AnotherCompressionModel model;
  model.path_text = output_name;
  model.compression_index = Settings.CompressionValue;
  model.resize_index = Settings.ResizeMode;
  platform::AnotherCompressionEvents events;
  events.select_path = [&observer](const std::string& edit_text) {
    const size_t end = edit_text.find_last_of("/:");
    const std::string folder =
        end == std::string::npos ? std::string() : edit_text.substr(0, end + 1);
    const std::string name = ChooseRectangularVideo(folder, observer);
    return TrimBlanks(name).empty() ? edit_text : name;
  };
  // The main window shows what the next exports use: its compression list and the check
  // mark of its output size menu follow the choices made here.
  events.compression_selected = [&observer](int index) {
    const std::vector<std::string> entries = CompressionListEntries();
    if (index < 0 || index >= static_cast<int>(entries.size())) return;
    Settings.CompressionValue = static_cast<int32_t>(LeadingNumber(entries[index]));
    observer.ListSelection(kIdCompressionList, index);
  };
  events.resize_selected = [&observer](int index) {
    if (index < 0 || index > 5) return;
    Settings.ResizeMode = index;
    ShowPopupChoice(*OptionOfField(&SettingsRecord::ResizeMode), observer);
  };
  const int32_t compression_before = Settings.CompressionValue;
  const int32_t resize_before = Settings.ResizeMode;
  if (!observer.AnotherCompression(model, events)) {
    // Exit/Cancel changes nothing: what was picked there goes, and the main window shows
    // the choices there were again.
    Settings.CompressionValue = compression_before;
    Settings.ResizeMode = resize_before;
    observer.ListSelection(kIdCompressionList, compression_before);
    ShowPopupChoice(*OptionOfField(&SettingsRecord::ResizeMode), observer);
    return std::string();
  }
  return model.path_text;
}

}  // namespace zqr
