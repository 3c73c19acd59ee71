// The batch mode. It starts the shell without a window, takes the settings file's values
// and the command line's options, gives the run a temporary folder of its own, and then
// calls the same core the window's commands call: LoadVideo, then ConvertMovie. A stop
// signal (Ctrl+C, kill, a closed terminal) stops the run, which removes what it began.
#include "app/batch.h"

// GCC sees a null dereference in CLI11's inlined string splitting that cannot happen.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnull-dereference"
#include <CLI/CLI.hpp>
#pragma GCC diagnostic pop

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "app/output_file.h"
#include "app/startup.h"
#include "convert/convert_movie.h"
#include "convert/convert_state.h"
#include "convert/export.h"
#include "convert/output_checks.h"
#include "convert/partial_movie.h"
#include "convert/temp_files.h"
#include "core/numbers.h"
#include "core/options.h"
#include "core/places.h"
#include "core/run_log.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "frames/layouts.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/system.h"
#include "video/frame_callback.h"
#include "video/frame_store.h"
#include "video/load.h"
#include "video/video_state.h"

namespace zqr {

namespace {}  // namespace

std::vector<BatchSettingOption> BatchSettingOptions() {
  std::vector<BatchSettingOption> options;
  for (const OptionDef& option : Options()) {
    if (option.flag != nullptr) {
      options.push_back({option.flag, FlagValues(option), option.flag_help});
    }
  }
  return options;
}

std::string ApplyBatchSetting(const std::string& option, const std::string& value) {
  const OptionDef* row = OptionOfFlag(option);
  if (row == nullptr) return option + " is not an option of the conversion";
  return ApplyFlag(*row, value);
}

namespace {

struct BatchArguments {
  std::vector<std::string> paths;
  std::vector<std::pair<std::string, std::string>> settings;
  std::string temp;
  std::string log;
  std::string depth_video;
  std::string depth_out;
  std::string depth_model;
  std::vector<float> model_mean;
  std::vector<float> model_deviation;
  bool model_invert = false;
  bool keep_frames = false;
};

// The shell's start without a window. Unlike the window's start it clears no temporary
// folder (other runs may be working in it). The run log starts only once the command
// line's names have been checked (StartBatchLog): until then no line is written anywhere.
void StartBatchShell() {
  SetProgramLocation(platform::ExecutablePath());
  SettleProgramPlaces();
  SetLogFile(std::string());
  Shell.VideoFolder = platform::CurrentDirectory();
  ResetSettingsToStartValues();
  AllocateInitialFrameStorage();
  LoadSettingsAtStart();
  // Other runs may be going on beside this one: its files beside the program are its own.
  Shell.SoleInstance = false;
}

void StartBatchLog(const std::string& log_file) {
  SetLogFile(log_file.empty() ? Shell.LogFile : log_file);
  StartRunLog(!log_file.empty());
  LogProgramPlaces();
  LogLine("Batch conversion");
}

// Whether two names are one file: the same file by any spelling or link, or, for names
// not made yet, the same place.
bool SameTarget(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (fs::equivalent(platform::PathOf(a), platform::PathOf(b), error)) return true;
  const fs::path one = fs::weakly_canonical(platform::PathOf(a), error);
  if (error) return a == b;
  const fs::path other = fs::weakly_canonical(platform::PathOf(b), error);
  if (error) return a == b;
  return one == other;
}

// The log, the temporary folder and the movie must each be a place of their own, and none
// of them the video: what is wrong, or empty text.
std::string NameClash(const std::string& input, const std::string& output, const std::string& log,
                      const std::string& temp) {
  std::error_code error;
  if (!log.empty()) {
    if (SameTarget(log, input)) return "the log file " + log + " is the input file";
    if (SameTarget(log, output)) return "the log file " + log + " is the output file";
    if (!temp.empty() && SameTarget(log, temp)) {
      return "the log file " + log + " is the temporary folder";
    }
    if (std::filesystem::is_directory(platform::PathOf(log), error))
      return "the log file " + log + " is a folder";
  }
  if (!temp.empty()) {
    if (SameTarget(temp, input)) return "the temporary folder " + temp + " is the input file";
    if (SameTarget(temp, output)) return "the temporary folder " + temp + " is the output file";
    const std::filesystem::file_status status =
        std::filesystem::status(platform::PathOf(temp), error);
    if (std::filesystem::exists(status) && !std::filesystem::is_directory(status)) {
      return "the temporary folder " + temp + " is not a folder";
    }
  }
  return std::string();
}

std::string Bar(double share, int width) {
  const int filled = std::clamp(static_cast<int>(share * width), 0, width);
  return "[" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(width - filled), '-') + "]";
}

// The batch run's observer: nobody watches the labels, and no one is there to answer, so a
// question gets the answer a box with only OK gives; the run's outcome is printed from its
// report, its progress from the snapshot ShowProgress polls.
class BatchObserver final : public Observer {
 public:
  int Ask(const std::string& /*text*/, const std::string& /*caption*/, int /*style*/) override {
    return platform::kIdOk;
  }
};

// Prints the progress of the recording and of the encoder until `stop` is set.
void ShowProgress(const std::atomic<bool>& stop) {
  const bool terminal = platform::StandardErrorIsTerminal();
  const int64_t start = platform::MonotonicMs();
  int64_t record_start = 0;
  int64_t last_print = 0;
  bool drawn = false;
  const int interval_ms = terminal ? 250 : 100;
  while (!stop.load()) {
    // Short naps: the run's end waits for this thread.
    for (int slept = 0; slept < interval_ms && !stop.load(); slept += 10) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (platform::StopSignalCaught() != 0) Conversion.StopRequested = 1;
    const int64_t now = platform::MonotonicMs();
    if (!terminal && now - last_print < 5000) continue;
    const ConversionProgress progress = PollConversion();
    const int32_t total = progress.frames_total;
    std::string line;
    if (progress.state == ConversionProgress::State::kEncoding) {
      const int64_t encoded = progress.frames_encoded;
      line = "encoding  " + Bar(total > 0 ? static_cast<double>(encoded) / total : 0, 30) + " " +
             NumberText(encoded) + "/" + NumberText(total) + " frames  elapsed " +
             FormatHms(static_cast<int32_t>((now - start) / 1000));
    } else if (progress.state == ConversionProgress::State::kRecording) {
      const int32_t done = progress.frames_recorded;
      if (record_start == 0) {
        // The first line waits for a rate worth showing.
        record_start = now;
        last_print = now;
        continue;
      }
      const double seconds = record_start > 0 ? static_cast<double>(now - record_start) / 1000 : 0;
      const double fps = seconds > 0.2 ? done / seconds : 0.0;
      const int32_t left = fps > 0 && total > done ? static_cast<int32_t>((total - done) / fps) : 0;
      line = "recording " + Bar(total > 0 ? static_cast<double>(done) / total : 0, 30) + " " +
             NumberText(done) + "/" + NumberText(total) + " frames  " + FormatMask0000(fps) +
             " fps  estimate " + FormatHms(left) + "  elapsed " +
             FormatHms(static_cast<int32_t>((now - start) / 1000));
    } else {
      continue;
    }
    last_print = now;
    if (terminal) {
      std::fprintf(stderr, "\r%-100s", line.c_str());
      drawn = true;
    } else {
      std::fprintf(stderr, "%s\n", line.c_str());
    }
    std::fflush(stderr);
  }
  if (drawn) std::fprintf(stderr, "\n");
}

int Fail(const std::string& line) {
  std::fprintf(stderr, "zqrstereo: %s\n", OneLine(line).c_str());
  return kBatchFailed;
}

// The temporary folder the run works in: a new folder of its own inside `base`, locked by
// `lock` and marked as the program's, so runs side by side never meet, a later start can
// tell a folder left by a killed run, and nothing the user keeps in `base` is ever read,
// written or deleted. Empty text, with the reason in `failure`, when none can be made.
std::string MakeBatchRunFolder(const std::string& base, platform::FolderLock& lock,
                               std::string& failure) {
  std::error_code error;
  std::filesystem::create_directories(platform::PathOf(base), error);
  // As an error number: on Windows the system's own code is mapped to one.
  int number = error ? error.default_error_condition().value() : 0;
  if (!error) {
    if (const int stale = RemoveStaleRunFolders(base); stale > 0) {
      LogLine("Removed stale run folders " + NumberText(stale));
    }
    const std::string folder = MakeRunFolder(base, lock, &number);
    if (!folder.empty()) return folder;
  }
  failure =
      "the temporary folder " + base + " cannot be used (" + platform::FileErrorText(number) + ")";
  return std::string();
}

// The run's paths, absolute and taken as given (blanks at their ends belong to them); a
// folder as OUT gets the name the window's save dialog proposes.
struct BatchPaths {
  std::string input;
  std::string output;
  std::string log;   // empty: the usual run log
  std::string temp;  // empty: the usual temporary folder
  DepthChoice depth;
};
BatchPaths AbsolutePaths(const BatchArguments& args) {
  std::error_code error;
  BatchPaths paths;
  paths.input =
      platform::PathText(std::filesystem::absolute(platform::PathOf(args.paths[0]), error));
  paths.output =
      platform::PathText(std::filesystem::absolute(platform::PathOf(args.paths[1]), error));
  if (std::filesystem::is_directory(platform::PathOf(paths.output), error)) {
    // A name the program chose replaces nothing: a movie already there under it (an
    // earlier run's, the user's) keeps it, and this one takes the next free "name (N)".
    const std::filesystem::path folder = platform::PathOf(paths.output);
    std::filesystem::path chosen;
    for (int copy = 1; copy < 10000; ++copy) {
      chosen = folder / platform::PathOf(ProposedOutputName(paths.input, copy) + ".mp4");
      if (std::filesystem::symlink_status(chosen, error).type() ==
          std::filesystem::file_type::not_found) {
        break;
      }
    }
    paths.output = platform::PathText(chosen);
  }
  const auto absolute = [&error](const std::string& name) {
    return name.empty()
               ? name
               : platform::PathText(std::filesystem::absolute(platform::PathOf(name), error));
  };
  paths.log = absolute(args.log);
  paths.temp = absolute(args.temp);
  paths.depth.video = absolute(args.depth_video);
  paths.depth.out = absolute(args.depth_out);
  paths.depth.model.file = absolute(args.depth_model);
  return paths;
}

// The checks before the video is opened, the run log started on the way; the exit status
// when the run ends there.
std::optional<int> CheckBeforeLoading(const BatchPaths& paths) {
  // Refused before anything is written: the log would be opened first.
  if (const std::string clash = NameClash(paths.input, paths.output, paths.log, paths.temp);
      !clash.empty()) {
    return Fail(clash + "; nothing was written");
  }
  StartBatchLog(paths.log);
  if (const std::string problem = RunLogProblem(); !problem.empty()) {
    if (!paths.log.empty()) return Fail(problem + "; nothing was written");
    std::fprintf(stderr, "zqrstereo: note: %s; this run keeps no log\n", problem.c_str());
  }
  if (RunLogOfAnotherInstance()) {
    std::fprintf(stderr, "zqrstereo: another run holds the run log; this run's log is %s\n",
                 LogFilePath().c_str());
  }
  // The layouts are made of the two stereo views; without the stereo effect there are none.
  if (Settings.StereoOn != 1 && Settings.Layout != 0) {
    std::fprintf(
        stderr,
        "zqrstereo: warning: the layout %s needs the stereo effect (--stereo depth-map, "
        "dynamic or static); this movie has none\n",
        std::string(frames::LayoutName(static_cast<frames::OutputLayout>(Settings.Layout.load())))
            .c_str());
  }
  std::error_code error;
  if (std::filesystem::is_directory(platform::PathOf(paths.input), error)) {
    return Fail("the input " + paths.input + " is a folder, not a video file");
  }
  // Anything else that is there (a named pipe, a device) is named by the load.
  if (!std::filesystem::exists(platform::PathOf(paths.input), error)) {
    // A name that is there but leads nowhere (a loop of links, a folder that may not be
    // entered) is not a missing file.
    if (error && error != std::errc::no_such_file_or_directory) {
      return Fail("the input file " + paths.input + " cannot be reached (" +
                  platform::FileErrorText(error.value()) + ")");
    }
    return Fail("the input file " + paths.input + " does not exist");
  }
  // Runs killed beside this movie left their partial movies.
  if (const int dead = RemoveDeadPartialMovies(FolderOf(paths.output)); dead > 0) {
    LogLine("Removed partial movies of ended runs " + NumberText(dead));
  }
  return std::nullopt;
}

// The run's own folder, in `temp` when given, else in the usual place or, when that cannot
// be had (a home folder that cannot be written, say), in the system's temporary folder, the
// user told how to choose. Empty, with the exit status in `status`, when there is none.
std::string TakeRunFolder(const std::string& temp, platform::FolderLock& run_lock, int& status) {
  std::string failure;
  std::string folder =
      MakeBatchRunFolder(temp.empty() ? Shell.TempFolder : temp, run_lock, failure);
  if (folder.empty() && temp.empty()) {
    std::error_code error;
    const std::string system_temp = platform::PathText(std::filesystem::temp_directory_path(error));
    std::string second_failure;
    if (!error) folder = MakeBatchRunFolder(system_temp, run_lock, second_failure);
    if (folder.empty()) {
      status = Fail(failure + "; choose a temporary folder with --temp DIR");
      return folder;
    }
    std::fprintf(stderr,
                 "zqrstereo: note: %s; working in %s instead (choose one with --temp DIR)\n",
                 failure.c_str(), system_temp.c_str());
    LogLine("Temp folder " + Shell.TempFolder + " cannot be used; using " + system_temp);
  }
  if (folder.empty()) status = Fail(failure);
  return folder;
}

// What the run came to: the run folder kept or removed, the lines on standard error and
// the exit status.
int Outcome(const LoadResult& loaded, const ConversionReport& report, const BatchPaths& paths,
            const std::string& folder, platform::FolderLock& run_lock, bool keep_frames) {
  const int signal = platform::StopSignalCaught();
  // Kept only when there is something to keep; a kept folder is no longer the sweep's.
  const bool kept = keep_frames && signal == 0 && HoldsWorkFiles(folder);
  if (kept) {
    KeepRunFolder(folder);
  } else {
    RemoveLockedRunFolder(folder, run_lock);
  }
  if (signal != 0) {
    const std::string name = platform::StopSignalName(signal);
    LogLine("Stopped by " + name);
    std::fprintf(stderr, "zqrstereo: stopped by %s; no movie was written\n", name.c_str());
    return 128 + signal;
  }
  if (kept) std::fprintf(stderr, "zqrstereo: work files kept in %s\n", folder.c_str());
  if (!loaded.loaded) {
    return Fail("the video could not be opened: " + loaded.failure + " (" + paths.input + ")");
  }
  if (!report.warning.empty()) {
    std::fprintf(stderr, "zqrstereo: warning: %s\n", OneLine(report.warning).c_str());
  }
  if (report.movie_written) {
    std::printf("%s\n", report.output_name.c_str());
    std::fprintf(stderr, "zqrstereo: wrote %s (%d frames)\n", report.output_name.c_str(),
                 report.frame_files);
    // What went with the movie (its depth output) may still have failed.
    if (report.failure.empty()) return kBatchOk;
  }
  std::string failure_line = report.failure.empty() ? "the conversion failed" : report.failure;
  // A sentence's full stop goes before the "; see"; the last dot of a name stays.
  const bool ends_in_name =
      failure_line.ends_with(paths.output) || failure_line.ends_with(paths.input);
  if (failure_line.ends_with('.') && !ends_in_name) failure_line.pop_back();
  return Fail(failure_line + "; see the run log " + LogFilePath());
}

int Convert(const BatchArguments& args) {
  platform::SilenceSoundOutput();  // a batch run plays no sound
  // The exit status tells what became of the movie, even when the reader of the output
  // has gone.
  platform::IgnoreBrokenPipes();
  StartBatchShell();
  for (const auto& [option, value] : args.settings) {
    const std::string problem = ApplyBatchSetting(option, value);
    if (!problem.empty()) {
      std::fprintf(stderr, "zqrstereo: %s\n", problem.c_str());
      return kBatchUsage;
    }
  }
  const BatchPaths paths = AbsolutePaths(args);
  if (const std::optional<int> refused = CheckBeforeLoading(paths)) return *refused;
  const bool depth_map = Settings.StereoOn == 1 && Settings.StereoMode == kDepthMapMode;
  if (!depth_map &&
      (!args.depth_video.empty() || !args.depth_out.empty() || !args.depth_model.empty())) {
    std::fprintf(stderr,
                 "zqrstereo: --depth-video, --depth-model and --depth-out go with --stereo "
                 "depth-map\n");
    return kBatchUsage;
  }
  if (!args.depth_video.empty() && !args.depth_model.empty()) {
    std::fprintf(stderr, "zqrstereo: --depth-video and --depth-model: give one depth source\n");
    return kBatchUsage;
  }
  if (depth_map) {
    for (const auto& [option, value] : args.settings) {
      if (option == "--tuning" || option == "--depth") {
        std::fprintf(stderr,
                     "zqrstereo: note: %s is one of the shift effects' and is ignored "
                     "with --stereo depth-map\n",
                     option.c_str());
      }
    }
  }

  platform::CatchStopSignals();
  platform::FolderLock run_lock;
  int status = kBatchOk;
  const std::string folder = TakeRunFolder(paths.temp, run_lock, status);
  if (folder.empty()) return status;
  Shell.TempFolder = folder;
  LogLine("Batch temporary folder " + folder);

  std::atomic<bool> stop{false};
  std::thread progress(ShowProgress, std::cref(stop));
  BatchObserver observer;
  const LoadResult loaded = LoadVideo(paths.input, observer);
  ConversionReport report;
  if (loaded.loaded && platform::StopSignalCaught() == 0) {
    ConversionJob job;
    job.video = loaded.video;
    job.output = paths.output;
    job.temp_folder = folder;
    job.offer_another_compression = false;
    job.keep_work_files = args.keep_frames;
    job.temp_folder_held = run_lock.held();
    job.settle_pauses = false;
    job.depth = paths.depth;
    job.depth.prior = Settings.DepthFromPrior == 1;
    ModelChoice& model = job.depth.model;
    model.every = Settings.DepthModelEvery;
    model.size = Settings.DepthModelSize;
    model.invert = args.model_invert;
    if (!args.model_mean.empty()) std::copy_n(args.model_mean.begin(), 3, model.mean.begin());
    if (!args.model_deviation.empty()) {
      std::copy_n(args.model_deviation.begin(), 3, model.deviation.begin());
    }
    report = ConvertMovie(job, observer);
  }
  UnloadVideo(*loaded.video, observer);
  stop = true;
  progress.join();
  return Outcome(loaded, report, paths, folder, run_lock, args.keep_frames);
}

}  // namespace

int BatchMain(int argc, char** argv) {
  CLI::App app(std::string(kProgramName) + " " + kBuildText +
                   "\nConverts a video into a red/cyan anaglyph 3D movie without a window.\n"
                   "Options not given come from the settings file; a batch run never writes it.",
               "zqrstereo");
  app.set_version_flag("--version", std::string(kProgramName) + " " + kBuildText);
  BatchArguments args;
  // IN and OUT after "--" may begin with "-": what follows "--" is taken off before the
  // options are parsed, and --convert then takes no values itself.
  std::vector<std::string> after_dashes;
  for (int k = 1; k < argc; ++k) {
    if (std::string_view(argv[k]) != "--") continue;
    for (int rest = k + 1; rest < argc; ++rest) after_dashes.emplace_back(argv[rest]);
    argc = k;
    break;
  }
  app.add_option("--convert", args.paths,
                 "convert the video IN into the movie OUT; put -- before IN and OUT when a "
                 "name begins with -")
      ->expected(0, 2)
      ->type_name("[--] IN OUT")
      ->required();
  const std::vector<BatchSettingOption> options = BatchSettingOptions();
  std::vector<std::string> values(options.size());
  for (size_t k = 0; k < options.size(); ++k) {
    app.add_option(options[k].name, values[k], options[k].help)->type_name(options[k].values);
  }
  app.add_option("--temp", args.temp,
                 "temporary folder: the run works in a new folder of its own inside DIR "
                 "(default: inside the settings' one)")
      ->type_name("DIR");
  app.add_option("--log", args.log, "write the run log to FILE instead of beside the program")
      ->type_name("FILE");
  app.add_option("--depth-video", args.depth_video,
                 "depth map: the depth of each frame from a grey video or picture FILE "
                 "(white nearest; default: the depth found in the video, see --depth-source)")
      ->type_name("FILE");
  app.add_option("--depth-out", args.depth_out,
                 "depth map: write the depth of every frame to FILE (.mkv: lossless)")
      ->type_name("FILE");
  app.add_option("--depth-model", args.depth_model,
                 "depth map: the depth of each frame from an ONNX monocular depth model FILE "
                 "(its output larger nearer)")
      ->type_name("FILE");
  app.add_option("--depth-model-mean", args.model_mean,
                 "depth model: the mean of R, G and B (0..1) taken from its input "
                 "(default: ImageNet's, 0.485,0.456,0.406)")
      ->expected(3)
      ->delimiter(',')
      ->type_name("R,G,B");
  app.add_option("--depth-model-std", args.model_deviation,
                 "depth model: the standard deviation its input is divided by "
                 "(default: ImageNet's, 0.229,0.224,0.225)")
      ->expected(3)
      ->delimiter(',')
      ->check(CLI::PositiveNumber)
      ->type_name("R,G,B");
  app.add_flag("--depth-model-invert", args.model_invert,
               "depth model: its output is distance, larger farther");
  app.add_flag("--keep-frames", args.keep_frames,
               "leave the frame files and the sound file in the temporary folder");
  app.footer(
      "Exit status: 0 the movie was written, 1 the conversion failed, 2 bad command line,\n"
      "129/130/143 stopped by " +
      platform::StopSignalName(1) + "/" + platform::StopSignalName(2) + "/" +
      platform::StopSignalName(15) +
      " (nothing of the movie is left).\n"
      "Output formats by extension: .flv .avi .mov .mp4 .m4v .ogg .ogv .webm .mkv\n"
      "OUT may be a folder: the movie then takes the name the window proposes, with the\n"
      "suffix players look for in the side-by-side and top-and-bottom layouts, numbered\n"
      "(\"name_Unwrapped (2).mp4\") when a file of that name is there.");
  try {
    app.parse(argc, argv);
    // Given without values, --convert holds one empty text.
    if (!after_dashes.empty() && args.paths.size() <= 1 &&
        (args.paths.empty() || args.paths[0].empty())) {
      args.paths = after_dashes;
    }
    if (args.paths.size() != 2) {
      throw CLI::ValidationError("--convert", "needs IN and OUT");
    }
    // An empty name given on purpose names nothing: taken silently, the run would work
    // where the user did not ask it to.
    for (const auto& [option, value] : {std::pair{"--temp", &args.temp},
                                        {"--log", &args.log},
                                        {"--depth-video", &args.depth_video},
                                        {"--depth-out", &args.depth_out},
                                        {"--depth-model", &args.depth_model}}) {
      if (app.count(option) > 0 && value->empty()) {
        throw CLI::ValidationError(option, "needs a name; an empty one names nothing");
      }
    }
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kBatchOk : kBatchUsage;
  }
  for (size_t k = 0; k < options.size(); ++k) {
    if (app.count(options[k].name) > 0) args.settings.emplace_back(options[k].name, values[k]);
  }
  return Convert(args);
}

}  // namespace zqr
