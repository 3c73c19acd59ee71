// The export side of a conversion: the progress window shown while the encoder runs
// (ConvertRectExport), the another-compression window's logic and its save dialog. The
// core decides everything the windows show and what each click does; the backend only
// draws and reports clicks (platform/ui.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "convert/convert_state.h"
#include "core/observer.h"
#include "platform/ui.h"

namespace zqr {

class EncoderFeed;

// The progress window's animation: five squares whose green levels rise in steps of 5 from
// 20, one after the other, the "load" picture advancing every second pass, and the
// processing time.
class CompressionAnimation {
 public:
  explicit CompressionAnimation(double start_seconds) : start_(start_seconds) {}
  // One pass of the window's loop at time `now_seconds`.
  void Step(double now_seconds);
  const platform::CompressionProgressView& view() const { return view_; }

 private:
  double start_;
  int tick_ = 0;
  platform::CompressionProgressView view_;
};

// "Processing time: hh:mm:ss", each field the whole part, two digits.
std::string ProcessingTimeText(double elapsed_seconds);

// What an export came to.
struct ExportResult {
  bool written = false;  // the tool ended with status 0 and the movie is not empty
  bool stopped = false;  // a stop request ended the tool
  int32_t exit_status = -1;
  std::string cause;  // for a failure, the cause the tool named when it is one we know
};

// Runs the encoder for the job's movie (OutputName) on the recorded frames, with the
// settings current now, and shows the progress window until the tool ends; a stop request
// (StopRequested) ends it. With `feed`, the encoder started while recording is waited for
// instead of a new run (it writes that movie with the same settings). When `lost` says
// the movie can no longer be finished, the encoder is ended.
ExportResult ConvertRectExport(const EncoderJob& job, Observer& observer,
                               EncoderFeed* feed = nullptr, const std::function<bool()>& lost = {});

// The cause of an encoder failure that its messages name ("No space left on device", ...);
// empty when they name none of those.
std::string EncoderFailureCause(const std::string& messages);

// The line of the encoder's messages saying that the movie could not be written whole
// (ffmpeg 5 ends with status 0 after "Error writing trailer ...: No space left on
// device"); empty when there is none.
std::string EncoderWriteError(const std::string& messages);

// Frames the encoder has reported so far in the current export (from its messages); 0
// before the first report.
int64_t EncoderFramesDone(const std::string& temp_folder);

// The another-compression window: returns the new output name for "Save VIDEO", empty text
// for "Exit/Cancel" or the close box. The compression and resize picks take effect at once.
std::string AnotherCompressionDialog(const std::string& output_name, Observer& observer);

// The save dialog of that window, opened in `folder`; the chosen name or empty text.
std::string ChooseRectangularVideo(const std::string& folder, Observer& observer);

// The output filters of the save dialogs, one per movie type the encoder writes.
std::vector<std::pair<std::string, std::string>> RectangularVideoFilters();
inline constexpr size_t kMp4FilterIndex = 3;  // its MP4 entry

// The texts of the compression list (22 entries) and of the resize list (6 entries).
std::vector<std::string> CompressionListEntries();
std::vector<std::string> ResizeListEntries();

}  // namespace zqr
