// The play loop, the preview poll and the main window's video figures.
#include "video/play.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "core/numbers.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "platform/system.h"
#include "video/frame_callback.h"
#include "video/frame_store.h"
#include "video/play_rules.h"
#include "video/preview_step.h"
#include "video/video_state.h"

namespace zqr {

namespace {
// The preview poll's one-byte spin lock.
std::atomic<uint8_t> poll_lock{0};

void TakePollLock() {
  while (poll_lock.exchange(0xFF, std::memory_order_acquire) != 0) std::this_thread::yield();
}
void ReleasePollLock() {
  poll_lock.store(0, std::memory_order_release);
}
}  // namespace

void PollPreviewFrame(const LoadedVideo& video, Observer& observer) {
  TakePollLock();
  // A conversion owns the frames from the moment it is flagged (see WaitForPreviewPoll).
  if (Video.Converting != 0) {
    ReleasePollLock();
    return;
  }
  if (auto graph = video.graph()) {
    FrameStoreState& s = FrameStore;
    int32_t size = video.figures().SampleSize;
    // The grabber writes at most `size` bytes: never more than GrabBuffer holds.
    if (!s.GrabBuffer.empty() && size > 0 &&
        static_cast<size_t>(size) <= s.GrabBuffer.byte_size()) {
      graph->GetCurrentBuffer(&size, s.GrabBuffer.data());
      // The depth-map effect pairs a depth video's frame with the picture by its time.
      platform::RefTime position = 0;
      const int64_t per_frame = video.figures().TimePerFrame;
      PreviewStepState& step = video.preview_step();
      step.FramesPerSecond = per_frame > 0 ? 1e7 / static_cast<double>(per_frame) : 0.0;
      step.PictureNumber =
          graph->GetCurrentPosition(&position) == platform::MediaStatus::kOk && per_frame > 0
              ? static_cast<int32_t>(std::min<int64_t>(position / per_frame, INT32_MAX))
              : -1;
      ShowPolledFrame(step, observer);
    }
  }
  ReleasePollLock();
}

namespace {
// Whether the polled picture, the settings and the depth it would take are those of the
// last poll, which showed them; remembered for the next poll when not.
bool ShownAlready(PreviewStepState& p, const SettingsRecord& values) {
  const FrameStoreState& s = FrameStore;
  const size_t bytes = static_cast<size_t>(std::max<int64_t>(
                           0, std::min<int64_t>(s.FramePixelCount, s.GrabBuffer.pixel_count()))) *
                       4;
  const auto* picture = reinterpret_cast<const uint8_t*>(s.GrabBuffer.data());
  // The model too: choosing another one shows its depth on a paused picture.
  const std::string depth_file = Shell.DepthSource.Get() + '\n' + Shell.DepthModel.Get();
  if (p.HasShown && p.ShownPicture.size() == bytes &&
      std::memcmp(p.ShownPicture.data(), picture, bytes) == 0 &&
      SameSettingsValues(p.ShownValues, values) && p.ShownDepthFile == depth_file &&
      p.ShownNumber == p.PictureNumber) {
    return true;
  }
  p.ShownPicture.assign(picture, picture + bytes);
  p.ShownValues = values;
  p.ShownDepthFile = depth_file;
  p.ShownNumber = p.PictureNumber;
  p.HasShown = true;
  return false;
}
}  // namespace

void ShowPolledFrame(PreviewStepState& step, Observer& observer) {
  FrameStoreState& s = FrameStore;
  if (s.WorkFrame.empty()) return;
  const SettingsRecord values = TakeSettingsSnapshot().values;  // the frame's one snapshot
  if (ShownAlready(step, values)) return;
  if (StepPreviewFrame(step, values, observer)) return;
  const int64_t count = std::min<int64_t>(
      {int64_t{s.FramePixelCount}, s.GrabBuffer.pixel_count(), s.WorkFrame.pixel_count()});
  if (count > 0) {
    std::memcpy(s.WorkFrame.data(), s.GrabBuffer.data(), static_cast<size_t>(count) * 4);
  }
  ApplyFrameFilters(FrameSettingsOf(values).filter, observer);
}

void ClearPreviewFrames(LoadedVideo* video) {
  TakePollLock();
  FrameStore.WorkFrame.Zero();
  FrameStore.GrabBuffer.Zero();
  if (video != nullptr) video->preview_step().Clear();
  ReleasePollLock();
}

void WaitForPreviewPoll() {
  TakePollLock();
  ReleasePollLock();
}

void ClearVideoInfo(Observer& observer, LoadedVideo* video) {
  for (int id : {kIdDurationLabel, kIdFileNameLabel, kIdFrameSizeLabel, kIdFrameRateLabel,
                 kIdFrameCountLabel, kIdFramesDoneLabel}) {
    observer.Label(id, "");
  }
  if (video != nullptr) video->SetProbeText("");
}

void ShowVideoInfo(const LoadedVideo& video, Observer& observer) {
  const VideoFigures figures = video.figures();
  const double fps = FramesPerSecond(figures.TimePerFrame);
  observer.Label(kIdFileNameLabel, " " + video.path() + " ");
  observer.Label(kIdFrameSizeLabel, NumberText(figures.FrameW) + "x" + NumberText(figures.FrameH));
  observer.Label(kIdFrameRateLabel, FormatMask0000(fps) + " fps");
  observer.Label(kIdFrameCountLabel, NumberText(figures.numframes));
  observer.Label(kIdDurationLabel, FormatHms(figures.DurationSeconds));
}

void RunPlayLoop(const LoadedVideo& video, platform::MediaGraph& graph, Observer& observer) {
  const int64_t duration = video.figures().Duration;
  // Polls keep a 32-ms beat: a fixed 32-ms wait after a poll of a large frame (a few ms
  // of filtering) would poll about 25 times a second and skip frames of a 30 fps video.
  constexpr int kPollMs = 32;
  int64_t next_poll = platform::MonotonicMs();
  while (Video.PlayState != 0) {
    if (Video.Converting == 0) {
      PollPreviewFrame(video, observer);
      platform::RefTime position = 0;
      graph.GetCurrentPosition(&position);
      observer.PositionBar(PositionBarWidth(position, duration));
      const int64_t now = platform::MonotonicMs();
      next_poll = std::max(next_poll + kPollMs, now + 1);
      observer.Wait(static_cast<int>(next_poll - now));
    } else {
      observer.Wait(120);
    }
  }
}

}  // namespace zqr
