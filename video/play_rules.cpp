// The loaded video's figures: frame-rate rule, frame count, rate and bar width.
#include "video/play_rules.h"

#include <cmath>
#include <limits>

#include "core/numbers.h"

namespace zqr {

namespace {
// Whether the figure at the start of `text` (after blanks) ends in "k".
bool AbbreviatedInThousands(std::string_view text) {
  size_t i = text.find_first_not_of(" \t");
  if (i == std::string_view::npos) return false;
  while (i < text.size() && ((text[i] >= '0' && text[i] <= '9') || text[i] == '.')) ++i;
  return i < text.size() && text[i] == 'k';
}
}  // namespace

int64_t TimePerFrameFromProbe(std::string_view video_info_text, int64_t connected_time_per_frame) {
  const int64_t fallback = connected_time_per_frame > 0 ? connected_time_per_frame : 0;
  // The rate is the video stream's: the summary begins with the file's name, which may
  // hold "fps," too ("Drone 60fps, 2.7K.mkv").
  std::string_view streams = video_info_text;
  if (streams.starts_with("VIDEO file: ")) {
    const size_t name_end = streams.find("\r\n");
    streams =
        name_end == std::string_view::npos ? std::string_view() : streams.substr(name_end + 2);
  }
  const size_t fps = streams.find("fps,");
  if (fps == std::string_view::npos) return fallback;
  std::string_view rest = streams.substr(fps + 4);
  const size_t tbr = rest.find("tbr");
  if (tbr != std::string_view::npos) rest = rest.substr(0, tbr);
  double rate = LeadingNumber(rest);
  // The tool writes whole thousands as "1k": the graph's own stream figure is exact.
  if (AbbreviatedInThousands(rest)) {
    if (fallback > 0) return fallback;
    rate *= 1000.0;
  }
  // A rate that is not a positive number (or so large that a frame lasts no time) says
  // nothing about the video; the stream's own figure is better than a nonsense count.
  if (!(rate > 0.0) || !std::isfinite(rate)) return fallback;
  // Nor does a rate whose frame would last less than a tenth of a millisecond or more than
  // an hour ("1e-300 fps"): no video is made that way, and the frame count would be absurd.
  const double time = (1.0 / rate) * 10'000'000.0;
  if (!std::isfinite(time) || time < 1'000.0 || time > 36'000'000'000.0) return fallback;
  return RoundHalfEven64(time);
}

int32_t FrameCount(int64_t duration, int64_t time_per_frame) {
  if (duration <= 0 || time_per_frame <= 0) return 0;
  const int64_t count = duration / time_per_frame;
  return count > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                     : static_cast<int32_t>(count);
}

double FramesPerSecond(int64_t time_per_frame) {
  if (time_per_frame <= 0) return 0.0;
  return 10'000'000.0 / static_cast<double>(time_per_frame);
}

double SecondsPerFrame(int64_t time_per_frame) {
  return static_cast<double>(time_per_frame) / 10'000'000.0;
}

int32_t PositionBarWidth(int64_t position, int64_t duration) {
  if (duration <= 0) return 1;
  const double exact = static_cast<double>(kPositionBarMaxWidth) * static_cast<double>(position) /
                       static_cast<double>(duration);
  const int32_t width = RoundHalfEven32(exact);
  if (width < 1) return 1;
  return width > kPositionBarMaxWidth ? kPositionBarMaxWidth : width;
}

}  // namespace zqr
