// Process-wide state of the video source: the flags the loader, the play loop, the
// window commands and the conversion driver meet through, the loaded video's timing
// (VideoInfo), and the graph set, the one frame-grabbing graph that all of them drive.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "core/shared_value.h"
#include "platform/media.h"

namespace zqr {

struct VideoStateRecord {
  // 0 stop requested / nothing playing, 1 play loop running, 2 a video is being armed.
  Shared32 PlayState{0};
  // 1 while BuildAndPlayGraph is active.
  Shared32 GraphBusy{0};
  // 1 while a conversion drives the graph (set and cleared by the conversion driver).
  Shared32 Converting{0};
  // 1 when the loaded video has a sound track (a conversion must then carry it).
  Shared32 HasSound{0};

  // VideoInfo: valid after a successful build. FrameW, FrameH and numframes live in the
  // frame store beside the arrays they describe.
  Shared32 SampleSize{0};            // bytes of one delivered frame
  std::atomic<int64_t> Duration{0};  // 100-ns units
  std::atomic<double> DurationSeconds{0.0};
  std::atomic<int64_t> TimePerFrame{0};  // 100-ns units
};

extern VideoStateRecord Video;

// The graph set. Empty when no graph exists; filled by the graph build once the graph's
// control interfaces are available, emptied by ReleaseGraph. Callers keep the returned
// reference only for the duration of their calls, so the graph ends with its teardown.
std::shared_ptr<platform::MediaGraph> CurrentGraph();
void SetCurrentGraph(std::shared_ptr<platform::MediaGraph> graph);

// The loaded video's path, exactly as it was opened.
void SetCurrentVideo(const std::string& path);
std::string CurrentVideo();

}  // namespace zqr
