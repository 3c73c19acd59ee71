// The video source's process-wide state and the graph set.
#include "video/video_state.h"

#include <utility>

namespace zqr {

VideoStateRecord Video;

namespace {
Guarded<std::shared_ptr<platform::MediaGraph>>& GraphSet() {
  static Guarded<std::shared_ptr<platform::MediaGraph>> graph;
  return graph;
}
Guarded<std::string>& CurrentVideoStorage() {
  static Guarded<std::string> path;
  return path;
}
}  // namespace

std::shared_ptr<platform::MediaGraph> CurrentGraph() {
  return GraphSet().Get();
}

void SetCurrentGraph(std::shared_ptr<platform::MediaGraph> graph) {
  // The graph replaced ends here, outside the lock: ending it waits for its streaming thread.
  GraphSet().Set(std::move(graph));
}

void SetCurrentVideo(const std::string& path) {
  CurrentVideoStorage().Set(path);
}

std::string CurrentVideo() {
  return CurrentVideoStorage().Get();
}

}  // namespace zqr
