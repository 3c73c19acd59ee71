// The loader: open dialog, probe, then the graph's whole playback on the calling thread.
// The fixed sleeps give a previous loader's graph time to end before the next one is
// built (GraphBusy turns a build that comes too early away).
#include "video/load.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>

#include "core/numbers.h"
#include "core/run_log.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "platform/path.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "video/graph.h"
#include "video/play.h"
#include "video/video_state.h"

namespace zqr {

LoaderStateRecord Loader;

std::vector<std::pair<std::string, std::string>> OpenDialogFilters() {
  // Each type has one filter of its own, and the first lists them all once. The movies
  // the program writes (MKV, WebM, FLV, M4V, Ogg) are among them, so a converted movie
  // can be loaded again.
  return {
      {"All VIDEO files",
       "*.avi;*.asf;*.mpg;*.mpeg;*.mov;*.qt;*.m2ts;*.mts;*.m2t;*.tod;*.mp4;*.m4v;*.mkv;*.webm;"
       "*.flv;*.ogv;*.ogg"},
      {"MOV VIDEO files (*.MOV)", "*.mov"},
      {"AVI VIDEO files (*.AVI)", "*.avi"},
      {"ASF VIDEO files (*.ASF)", "*.asf"},
      {"MPG VIDEO files (*.MPG, *.MPEG)", "*.mpg;*.mpeg"},
      {"QT VIDEO files (*.QT)", "*.qt"},
      {"M2TS VIDEO files (*.M2TS)", "*.m2ts"},
      {"MTS VIDEO files (*.MTS)", "*.mts"},
      {"M2T VIDEO files (*.M2T)", "*.m2t"},
      {"TOD VIDEO files (*.TOD)", "*.tod"},
      {"MP4 VIDEO files (*.MP4)", "*.mp4"},
      {"M4V VIDEO files (*.M4V)", "*.m4v"},
      {"MKV VIDEO files (*.MKV)", "*.mkv"},
      {"WEBM VIDEO files (*.WEBM)", "*.webm"},
      {"FLV VIDEO files (*.FLV)", "*.flv"},
      {"OGG VIDEO files (*.OGV, *.OGG)", "*.ogv;*.ogg"},
  };
}

namespace {

// What the open dialog's answer starts: the video plays in the preview until the playback
// ends, then the frames and the preview are cleared. Counted in Loader.Playbacks from its
// first step to its last, so the next load can wait for it.
void PlayChosenFile(const std::string& name, Observer& observer) {
  Loader.Playbacks.fetch_add(1);
  observer.ResetPreview();
  // A name of blanks alone is no choice; any other is taken exactly as given.
  if (!TrimBlanks(name).empty()) {
    Shell.VideoFolder = FolderOfFile(name);
    OpenVideo(name, observer);
  }
  Video.PlayState = 0;
  platform::SleepMs(100);
  ClearPreviewFrames(CurrentLoadedVideo().get());
  observer.ResetPreview();
  Loader.Playbacks.fetch_add(-1);
}

// Asks the clip that plays to stop and waits until its loader has let go of it, its last
// writes of PlayState included, so they cannot stop the clip loaded next.
void EndPlayingClip() {
  Video.PlayState = 0;
  while (Loader.Playbacks != 0) {
    platform::SleepMs(10);
    Video.PlayState = 0;
  }
}
}  // namespace

std::string FolderOfFile(const std::string& path) {
  std::filesystem::path parent = platform::PathOf(path).parent_path();
  return parent.empty() ? std::string(".") : platform::PathText(parent);
}

std::string GetMultipleFiles(const std::string& initial_folder, int32_t /*mode*/,
                             Observer& observer, const std::function<void()>& chosen) {
  if (!Loader.OpenDialogBusy.compare_exchange(0, 1)) return std::string();
  platform::FileDialogRequest request;
  request.title = "Load VIDEO";
  request.folder = initial_folder.empty() ? platform::CurrentDirectory() : initial_folder;
  request.filters = OpenDialogFilters();
  request.file_must_exist = true;
  const std::string name = observer.ChooseFile(request);
  Loader.OpenDialogBusy = 0;
  // Cancel, or a name of blanks alone: the clip there was goes on as it was.
  if (TrimBlanks(name).empty()) return std::string();
  if (chosen) chosen();

  LogLine("GetMultipleFiles pMediaControl begin");
  EndPlayingClip();
  if (auto graph = CurrentGraph()) {
    graph->Stop();
    platform::SleepMs(100);
  }
  LogLine("GetMultipleFiles pMediaControl Ok");
  ClearVideoInfo(observer, CurrentLoadedVideo().get());
  observer.Wait(1);
  PlayChosenFile(name, observer);
  return std::string();
}

void OpenGivenFile(const std::string& name, Observer& observer) {
  EndPlayingClip();
  if (auto graph = CurrentGraph()) {
    graph->Stop();
    platform::SleepMs(100);
  }
  ClearVideoInfo(observer, CurrentLoadedVideo().get());
  observer.Wait(1);
  PlayChosenFile(name, observer);
}

void KeepClipLoaded(Observer& observer) {
  const std::shared_ptr<LoadedVideo> video = CurrentLoadedVideo();
  std::shared_ptr<platform::MediaGraph> graph = video ? video->graph() : nullptr;
  if (!graph || Video.PlayState == 0) return;
  // A conversion ran it without a clock and silent, as fast as frames could be processed.
  graph->SetDefaultSyncSource();
  graph->PutVolume(platform::kVolumeFull);
  platform::RefTime start = 0;
  graph->SetPositions(&start, platform::kSeekAbsolutePositioning, nullptr,
                      platform::kSeekNoPositioning);
  graph->Pause();  // shows the first frame
  observer.PositionBar(1);
  ShowVideoInfo(*video, observer);
}

void OpenVideo(const std::string& file_name, Observer& observer) {
  Settings.ShowInputVideo = 1;
  Video.PlayState = 2;
  platform::SleepMs(200);
  Loader.VideoLoaded = 1;
  Video.PlayState = 0;
  platform::SleepMs(1000);
  // The same load as a conversion without a window, then the preview.
  if (LoadResult load = LoadVideo(file_name, observer); load.loaded) {
    PlayBuiltGraph(*load.video, observer);
  }
  Video.PlayState = 1;
  platform::SleepMs(100);
  Video.PlayState = 0;
  observer.ResetPreview();
}

}  // namespace zqr

namespace zqr {

LoadResult LoadVideo(const std::string& path, Observer& observer) {
  LoadResult result;
  // The whole name: a shortened one would name another file, or none.
  result.video = std::make_shared<LoadedVideo>(path);
  // The probe's tool starts up while the graph is built; the build waits for its report only
  // where it reads the frame rate from it.
  result.video->StartProbe();
  Settings.ShowInputVideo = 1;
  Loader.VideoLoaded = 1;
  SetCurrentLoadedVideo(result.video);
  result.loaded = BuildGraphPaused(*result.video, &result.failure, observer) == GraphBuild::kBuilt;
  result.video->AwaitProbe();
  return result;
}

void UnloadVideo(LoadedVideo& video, Observer& observer) {
  EndPausedGraph(video, observer);
  Video.PlayState = 0;
}

}  // namespace zqr
