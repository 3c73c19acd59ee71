// A loaded video and the player's flags. A LoadedVideo owns what one opened file brings:
// its path, the probe's summary and the thread that makes it, the frame-grabbing graph,
// and the figures the graph build read (VideoInfo). LoadVideo makes one and hands it to its
// client; the window keeps the one it shows as the current video, the batch mode hands its
// own to the conversion. The flags are the player's: one preview, one loader, one
// conversion driving the graph at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/shared_value.h"
#include "platform/media.h"

namespace zqr {

struct PreviewStepState;

struct VideoStateRecord {
  // 0 stop requested / nothing playing, 1 play loop running, 2 a video is being armed.
  Shared32 PlayState{0};
  // 1 while BuildAndPlayGraph is active.
  Shared32 GraphBusy{0};
  // 1 while a conversion drives the graph (set and cleared by the conversion driver).
  Shared32 Converting{0};
};

extern VideoStateRecord Video;

// VideoInfo: what the graph build found out, valid once it got that far.
struct VideoFigures {
  int32_t SampleSize = 0;  // bytes of one delivered frame
  int64_t Duration = 0;    // 100-ns units
  double DurationSeconds = 0.0;
  int64_t TimePerFrame = 0;  // 100-ns units
  int32_t FrameW = 0;
  int32_t FrameH = 0;
  int32_t numframes = 0;
  bool HasSound = false;  // a conversion must then carry a sound track
  // The shape of a pixel as shown, and the primaries and transfer of the frames' RGB
  // (platform::VideoInfoHeader): a movie made of them says so.
  int32_t PixelAspectX = 1;
  int32_t PixelAspectY = 1;
  std::string Primaries = "bt709";
  std::string Transfer = "bt709";
};

class LoadedVideo {
 public:
  // The path exactly as it was opened: blanks at its ends belong to it.
  explicit LoadedVideo(std::string path);
  ~LoadedVideo();  // waits for its probe
  LoadedVideo(const LoadedVideo&) = delete;
  LoadedVideo& operator=(const LoadedVideo&) = delete;

  const std::string& path() const { return path_; }

  // The graph, once the build made its control interfaces available; empty before and
  // after its teardown. Callers keep the returned reference only for the duration of their
  // calls, so the graph ends with its teardown.
  std::shared_ptr<platform::MediaGraph> graph() const;
  void SetGraph(std::shared_ptr<platform::MediaGraph> graph);

  VideoFigures figures() const;
  void SetFigures(const VideoFigures& figures);

  // The probe (ProbeVideo) on a thread of its own, so that the tool's start-up overlaps the
  // graph's build; AwaitProbe returns once its summary is in probe_text (at once when none
  // runs). A probe that describes nothing leaves the text as it was.
  void StartProbe();
  void AwaitProbe();
  std::string probe_text() const;
  void SetProbeText(std::string text);

  // What its preview keeps from one poll to the next (the poll's lock guards it).
  PreviewStepState& preview_step() const { return *preview_step_; }

 private:
  const std::string path_;
  mutable std::mutex mutex_;
  std::shared_ptr<platform::MediaGraph> graph_;
  VideoFigures figures_;
  std::string probe_text_;
  std::mutex probe_mutex_;
  std::thread probe_thread_;
  const std::unique_ptr<PreviewStepState> preview_step_;
};

// The video the window shows and its commands drive: the last one loaded, kept after its
// playback ended (its graph let go of) until the next one replaces it.
std::shared_ptr<LoadedVideo> CurrentLoadedVideo();
void SetCurrentLoadedVideo(std::shared_ptr<LoadedVideo> video);
// The current video's graph (none without one), and its path (empty without one).
std::shared_ptr<platform::MediaGraph> CurrentGraph();
std::string CurrentVideo();

}  // namespace zqr
