// The video source's process-wide state and the graph set.
#include "video/video_state.h"

#include <mutex>
#include <utility>

namespace zqr {

VideoStateRecord Video;

namespace {
std::mutex& GraphSetMutex() {
  static std::mutex mutex;
  return mutex;
}
std::shared_ptr<platform::MediaGraph>& GraphSet() {
  static std::shared_ptr<platform::MediaGraph> graph;
  return graph;
}
}  // namespace

std::shared_ptr<platform::MediaGraph> CurrentGraph() {
  std::lock_guard lock(GraphSetMutex());
  return GraphSet();
}

void SetCurrentGraph(std::shared_ptr<platform::MediaGraph> graph) {
  std::shared_ptr<platform::MediaGraph> old;
  {
    std::lock_guard lock(GraphSetMutex());
    old = std::exchange(GraphSet(), std::move(graph));
  }
  // `old` ends here, outside the lock: ending a graph waits for its streaming thread.
}

}  // namespace zqr
