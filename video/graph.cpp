// The graph build and its teardown, step by step, and the program's frame callback.
// Each build step maps to one call of the media seam; a failing step shows its message
// and goes straight to the common teardown, which every build ends with.
#include "video/graph.h"

#include <atomic>
#include <memory>
#include <utility>

#include "core/numbers.h"
#include "core/run_log.h"
#include "core/settings.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "video/frame_callback.h"
#include "video/frame_store.h"
#include "video/play.h"
#include "video/play_rules.h"
#include "video/video_state.h"

namespace zqr {

using platform::Failed;
using platform::MediaGraph;
using platform::MediaStatus;
using platform::RefTime;

namespace {

std::atomic<int> settle_ms{1000};

// Shows a failed step's message; the build then reports the same text.
const char* ShowGraphError(const char* text, Observer& observer) {
  observer.Ask(text, kGraphErrorCaption, platform::kMbIconInformation);
  return text;
}

// A source that would not open or connect: the step's text, then the file and why, so a
// user can tell a damaged clip from a file that is no video at all. The build reports the
// step's text with the reason, on one line.
std::string ShowSourceError(const char* text, const std::string& file_name, const MediaGraph& graph,
                            Observer& observer) {
  std::string cause = graph.SourceFailure();
  if (cause.empty()) cause = "it is damaged or not a video";
  observer.Ask(std::string(text) + "\r\n\r\n" + file_name +
                   "\r\nThe file cannot be read as a video: " + cause + ".",
               kGraphErrorCaption, platform::kMbIconInformation);
  std::string step = text;
  if (step.ends_with('!')) step.pop_back();
  return step + ": " + cause;
}

// Steps 4 to 32: builds the graph, publishes it paused and shows the video's figures.
// Returns empty text, or the text of the error message it showed.
std::string BuildGraph(LoadedVideo& video, std::shared_ptr<MediaGraph>& out, Observer& observer) {
  const std::string& file_name = video.path();
  std::shared_ptr<MediaGraph> graph = platform::CreateMediaGraph();
  if (!graph) {
    return ShowGraphError(kNoGraphText, observer);
  }
  if (Failed(graph->CreateSampleGrabber())) {
    return ShowGraphError(kGrabberErrorText, observer);
  }
  if (Failed(graph->AddGrabberFilter("Sample Grabber"))) {
    return ShowGraphError(kAddGrabberErrorText, observer);
  }
  platform::MediaType type;
  type.majortype = platform::MajorType::kVideo;
  type.subtype = platform::SubType::kRgb32;
  type.formattype = platform::FormatType::kVideoInfo;
  if (Failed(graph->SetMediaType(type))) {
    return ShowGraphError(kMediaTypeErrorText, observer);
  }
  // The name exactly as given: blanks at its ends belong to it on this platform.
  const std::string& source_name = file_name;
  if (Failed(graph->AddSourceFilter(source_name, "Source"))) {
    return ShowSourceError(kAddSourceErrorText, file_name, *graph, observer);
  }
  graph->SetDeinterlace(Settings.Deinterlace != 0);
  if (Failed(graph->ConnectSourceToGrabber())) {
    return ShowSourceError(kUnsupportedText, file_name, *graph, observer);
  }
  if (Failed(graph->AddNullRenderer("NullRenderer"))) {
    return ShowGraphError(kAddRendererErrorText, observer);
  }
  if (Failed(graph->ConnectGrabberToNullRenderer())) {
    return ShowGraphError(kStream010Text, observer);
  }
  if (Failed(graph->SetBufferSamples(true))) {
    return ShowGraphError(kStream011Text, observer);
  }
  graph->SetCallback(nullptr, platform::kSelectSampleCB);
  // The control interfaces exist from here on: the window commands and the conversion
  // driver may drive the graph.
  out = graph;
  video.SetGraph(graph);
  VideoFigures figures;
  figures.HasSound = graph->RenderFile(source_name) == platform::MediaStatus::kOk;
  graph->Pause();
  LogLine("OS_ASPECT = " + NumberText(Settings.FixAspect.load()));
  graph->SetDefaultSyncSource();
  LogLine("Render file: " + file_name);
  if (Failed(graph->GetConnectedMediaType(&type))) {
    if (graph->SourceFailure().empty()) return ShowGraphError(kFormatErrorText, observer);
    return ShowSourceError(kFormatErrorText, file_name, *graph, observer);
  }
  const platform::VideoInfoHeader format = type.format;
  graph->SetOneShot(false);
  platform::TimeFormat time_format = platform::TimeFormat::kNone;
  graph->GetTimeFormat(&time_format);
  graph->SetTimeFormat(platform::TimeFormat::kMediaTime);
  RefTime duration = 0;
  graph->GetDuration(&duration);
  figures.Duration = duration;
  const double seconds = static_cast<double>(duration) / 10'000'000.0;
  figures.DurationSeconds = seconds;
  LogLine("VIDEO File Duration = " + NumberText(seconds));

  Video.PlayState = 2;
  figures.SampleSize = type.lSampleSize;
  const int32_t width = format.Width;
  const int32_t height = format.Height;
  figures.FrameW = width;
  figures.FrameH = height;
  figures.PixelAspectX = format.PixelAspectX;
  figures.PixelAspectY = format.PixelAspectY;
  figures.Primaries = format.Primaries;
  figures.Transfer = format.Transfer;
  video.AwaitProbe();
  const int64_t time_per_frame = TimePerFrameFromProbe(video.probe_text(), format.AvgTimePerFrame);
  figures.TimePerFrame = time_per_frame;
  const int32_t numframes = FrameCount(duration, time_per_frame);
  figures.numframes = numframes;
  video.SetFigures(figures);
  const double fps = FramesPerSecond(time_per_frame);
  LogLine("Frame Size = " + NumberText(width) + "x" + NumberText(height));
  LogLine("getTimePerFrame = " + NumberText(SecondsPerFrame(time_per_frame)));
  LogLine("FPS = " + FormatMask0000(fps));
  LogLine("numframes = " + NumberText(numframes));
  // WorkFrame, GrabBuffer, the frame pixel count and the display header. A size that
  // cannot be held leaves the arrays empty, and the preview poll then skips its copy.
  AllocateGrabFrames(width, height);

  ShowVideoInfo(video, observer);
  return {};
}

// The common end of every build: the graph let go of, the build flag cleared.
void TearDownGraph(LoadedVideo& video, std::shared_ptr<MediaGraph>& graph, Observer& observer) {
  // Give a running conversion a moment to let go of the graph.
  for (int round = 0; round < 50 && Video.Converting != 0; ++round) {
    observer.Wait(10);
    platform::SleepMs(10);
  }
  graph.reset();
  video.SetGraph(nullptr);
  Video.GraphBusy = 0;
  observer.ResetPreview();
  LogLine("File exit Ok");
  observer.PositionBar(1);
  LogLine("File exit Final");
}

}  // namespace

int32_t BuildAndPlayGraph(const std::string& file_name, Observer& observer) {
  auto video = std::make_shared<LoadedVideo>(file_name);
  SetCurrentLoadedVideo(video);
  std::string failure;
  if (BuildGraphPaused(*video, &failure, observer) == GraphBuild::kBuilt) {
    PlayBuiltGraph(*video, observer);
  }
  return 0;
}

GraphBuild BuildGraphPaused(LoadedVideo& video, std::string* failure, Observer& observer) {
  if (!Video.GraphBusy.compare_exchange(0, 1)) {
    *failure = "another video is being loaded";
    return GraphBuild::kBusy;
  }
  observer.PositionBar(1);
  std::shared_ptr<MediaGraph> graph;
  if (std::string shown = BuildGraph(video, graph, observer); !shown.empty()) {
    TearDownGraph(video, graph, observer);
    *failure = shown;
    return GraphBuild::kFailed;
  }
  return GraphBuild::kBuilt;
}

void PlayBuiltGraph(LoadedVideo& video, Observer& observer) {
  std::shared_ptr<MediaGraph> graph = video.graph();
  if (graph) {
    if (Video.Converting == 0) graph->Run();
    const int settle = settle_ms.load();
    platform::SleepMs(settle);
    observer.Wait(settle);
    Video.PlayState = 1;
    RunPlayLoop(video, *graph, observer);
    graph->Stop();
    platform::SleepMs(100);
    LogLine("**************** CYCLE STOPPED");
  }
  TearDownGraph(video, graph, observer);
}

void EndPausedGraph(LoadedVideo& video, Observer& observer) {
  std::shared_ptr<MediaGraph> graph = video.graph();
  if (graph) graph->Stop();
  TearDownGraph(video, graph, observer);
}

MediaStatus InstallFrameCallback(MediaGraph* graph, platform::SampleGrabberCallback& recording) {
  if (graph == nullptr) return platform::MediaStatus::kNotBuilt;
  return graph->SetCallback(&recording, platform::kSelectBufferCB);
}

void SetGraphSettleMs(int milliseconds) {
  settle_ms = milliseconds < 0 ? 0 : milliseconds;
}

}  // namespace zqr
