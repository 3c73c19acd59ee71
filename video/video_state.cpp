// A loaded video, the current one, and the player's flags.
#include "video/video_state.h"

#include <utility>

#include "video/preview_step.h"
#include "video/probe.h"

namespace zqr {

VideoStateRecord Video;

LoadedVideo::LoadedVideo(std::string path)
    : path_(std::move(path)), preview_step_(std::make_unique<PreviewStepState>()) {}

LoadedVideo::~LoadedVideo() {
  AwaitProbe();
}

std::shared_ptr<platform::MediaGraph> LoadedVideo::graph() const {
  std::lock_guard lock(mutex_);
  return graph_;
}

void LoadedVideo::SetGraph(std::shared_ptr<platform::MediaGraph> graph) {
  {
    std::lock_guard lock(mutex_);
    std::swap(graph_, graph);
  }
  // The graph replaced ends here, outside the lock: ending it waits for its streaming thread.
}

VideoFigures LoadedVideo::figures() const {
  std::lock_guard lock(mutex_);
  return figures_;
}

void LoadedVideo::SetFigures(const VideoFigures& figures) {
  std::lock_guard lock(mutex_);
  figures_ = figures;
}

void LoadedVideo::StartProbe() {
  std::lock_guard lock(probe_mutex_);
  if (probe_thread_.joinable()) probe_thread_.join();
  probe_thread_ = std::thread([this] {
    try {
      if (std::optional<std::string> text = ProbeVideo(path_)) SetProbeText(std::move(*text));
    } catch (...) {
      // No report: the summary stays as it was, as for a video the tool cannot read.
    }
  });
}

void LoadedVideo::AwaitProbe() {
  std::lock_guard lock(probe_mutex_);
  if (probe_thread_.joinable()) probe_thread_.join();
}

std::string LoadedVideo::probe_text() const {
  std::lock_guard lock(mutex_);
  return probe_text_;
}

void LoadedVideo::SetProbeText(std::string text) {
  std::lock_guard lock(mutex_);
  probe_text_ = std::move(text);
}

namespace {
Guarded<std::shared_ptr<LoadedVideo>>& CurrentVideoSlot() {
  static Guarded<std::shared_ptr<LoadedVideo>> video;
  return video;
}
}  // namespace

std::shared_ptr<LoadedVideo> CurrentLoadedVideo() {
  return CurrentVideoSlot().Get();
}

void SetCurrentLoadedVideo(std::shared_ptr<LoadedVideo> video) {
  // The video replaced ends here, outside the slot's lock (its probe is waited for).
  std::shared_ptr<LoadedVideo> replaced = CurrentVideoSlot().Set(std::move(video));
}

std::shared_ptr<platform::MediaGraph> CurrentGraph() {
  std::shared_ptr<LoadedVideo> video = CurrentLoadedVideo();
  return video ? video->graph() : nullptr;
}

std::string CurrentVideo() {
  std::shared_ptr<LoadedVideo> video = CurrentLoadedVideo();
  return video ? video->path() : std::string();
}

}  // namespace zqr
