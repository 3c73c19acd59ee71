// The recording loop and the recording's end.
#include "convert/recording.h"

#include <algorithm>

#include "convert/convert_movie.h"
#include "convert/convert_state.h"
#include "core/control_ids.h"
#include "core/numbers.h"
#include "core/run_log.h"
#include "frames/frame_file.h"
#include "platform/files.h"
#include "video/frame_store.h"
#include "video/graph.h"
#include "video/play.h"
#include "video/play_rules.h"
#include "video/video_state.h"

namespace zqr {

RecordedFrames StopRecording(platform::MediaGraph* graph, FrameRecording* recording) {
  if (graph != nullptr) {
    graph->Pause();
    graph->SetCallback(nullptr, platform::kSelectBufferCB);
  }
  if (recording == nullptr) return {};
  RecordedFrames recorded = recording->End();
  recording->WaitForFiles();
  return recorded;
}

int32_t RepeatFrames(const std::string& folder, const std::vector<FrameGap>& gaps) {
  int32_t made = 0;
  for (const FrameGap& gap : gaps) {
    const std::string source = frames::FrameFileName(folder, gap.source);
    for (int32_t k = 0; k < gap.count; ++k) {
      if (platform::LinkOrCopyFile(source, frames::FrameFileName(folder, gap.first + k))) ++made;
    }
  }
  if (!gaps.empty()) LogLine("Repeated frames " + NumberText(made));
  return made;
}

void DiscardGraphEvents(platform::MediaGraph& graph) {
  int32_t code = 0;
  intptr_t p1 = 0;
  intptr_t p2 = 0;
  for (int k = 0; k < 1000 && platform::Succeeded(graph.GetEvent(&code, &p1, &p2, 0)); ++k) {
    graph.FreeEventParams(code, p1, p2);
  }
}

RecordEnd RecordLoop(platform::MediaGraph& graph, const FrameRecording& recording,
                     int32_t* frames_done, const std::function<bool()>& each_wait,
                     const std::function<bool()>& held_back, Observer& observer) {
  const int32_t numframes = recording.numframes();
  int32_t passes = 0;
  int32_t remembered = 0;
  int32_t stall_count = 0;
  // The caller's work runs every 10 ms of a wait, so that (the encoder's start above all)
  // it comes no later than it must.
  bool called_off = false;
  auto wait = [&](int32_t milliseconds) {
    for (int32_t left = milliseconds; left > 0; left -= 10) {
      observer.Wait(std::min(left, 10));
      called_off = called_off || each_wait();
    }
  };
  for (;;) {
    wait(120);
    if (Conversion.StopRequested != 0) return RecordEnd::kStopped;
    if (called_off) return RecordEnd::kCalledOff;
    wait(150);
    *frames_done = FrameStore.FrameCounter;
    // A file that could not be written (the disk is full) spoils the movie: end now.
    if (recording.file_stats().failed > 0) return RecordEnd::kWriteFailed;
    if (++passes > 16) {
      observer.Label(kIdFramesDoneLabel, NumberText(*frames_done));
      passes = 0;
      const double share = numframes > 0 ? 598.0 * *frames_done / numframes : 0.0;
      observer.PositionBar(std::min(RoundHalfEven32(share), kPositionBarMaxWidth));
      const int32_t counter = FrameStore.FrameCounter;
      if (counter == remembered && !held_back()) {
        ++stall_count;
      } else {
        remembered = counter;
        stall_count = 0;
      }
    }
    int32_t code = 0;
    intptr_t p1 = 0;
    intptr_t p2 = 0;
    const bool event = platform::Succeeded(graph.GetEvent(&code, &p1, &p2, 0));
    if (event) graph.FreeEventParams(code, p1, p2);
    if ((event && code == platform::kEcComplete) || stall_count > kStallLimit) {
      // The window shows where the recording ended, not where its last look left it.
      *frames_done = FrameStore.FrameCounter;
      observer.Label(kIdFramesDoneLabel, NumberText(*frames_done));
      observer.PositionBar(kPositionBarMaxWidth);
      return RecordEnd::kEnded;
    }
    wait(10);
  }
}

}  // namespace zqr
