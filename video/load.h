// Choosing the input video and turning the choice into a playing preview: the open
// dialog, the probe, and the graph that plays until the playback ends. Runs on the
// loader's thread, which it occupies for the whole playback.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/observer.h"
#include "core/shared_value.h"
#include "video/video_state.h"

namespace zqr {

struct LoaderStateRecord {
  // 1 while GetMultipleFiles has its dialog open; taken by compare-exchange, so a second
  // Load command can never open a second dialog.
  Shared32 OpenDialogBusy{0};
  // 1 once a video has been opened; never cleared.
  Shared32 VideoLoaded{0};
  // Loaders between the first and the last step of playing a chosen file.
  Shared32 Playbacks{0};
};

extern LoaderStateRecord Loader;

inline constexpr size_t kMaxVideoPathLength = 255;

// The open dialog's twelve filters, description and patterns, in the dialog's order.
std::vector<std::pair<std::string, std::string>> OpenDialogFilters();

// The folder of a chosen file, which the next dialog opens in ("." for a bare name).
std::string FolderOfFile(const std::string& path);

// The Load command's work: shows the open dialog in `initial_folder`; once a file is chosen
// runs `chosen`, ends the clip that plays (and waits for its loader), probes the chosen
// video, plays it until the playback ends, then clears the frames and the preview. A
// cancelled dialog changes nothing. Returns empty text at once while another open dialog
// is shown. Mode 0 is the only mode.
std::string GetMultipleFiles(const std::string& initial_folder, int32_t mode, Observer& observer,
                             const std::function<void()>& chosen = {});

// GetMultipleFiles for a file the user named before any dialog (on the command line, or
// through the desktop): it plays as if chosen in the open dialog.
void OpenGivenFile(const std::string& name, Observer& observer);

// The loaded clip back in the preview after a Convert that did not end it (its dialog
// cancelled, the conversion refused, stopped or failed): rewound and paused, with its
// clock and sound back, its figures in the labels. Nothing when no clip plays.
void KeepClipLoaded(Observer& observer);

// LoadVideo, then the preview plays it; returns when the playback has ended.
void OpenVideo(const std::string& file_name, Observer& observer);

// Loading, as every client loads: a new video, made the current one, probed, its graph
// built and left paused with its figures published (the window then plays it, the batch
// mode converts it at once). `failure` is the text of the message that was shown when it
// could not be opened.
struct LoadResult {
  bool loaded = false;
  std::string failure;
  std::shared_ptr<LoadedVideo> video;
};
LoadResult LoadVideo(const std::string& path, Observer& observer);
// Lets go of the graph LoadVideo built.
void UnloadVideo(LoadedVideo& video, Observer& observer);

}  // namespace zqr
