// The arithmetic of the loaded video's figures: the frame-rate rule that reads the
// probe's summary, the frame count, the frame-rate text and the position bar's width.
// Pure functions, so they can be tried on any text and any figures.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zqr {

// Time per frame in 100-ns units. Reads the number after the first "fps," of the probe
// summary, up to the first "tbr" after it (for "..., 29.97 fps, 29.97 tbr, ..." that is
// 29.97, giving 333667). When the summary gives no positive rate, or gives it in thousands
// ("1k"), the connected format's average time per frame is used. Never negative.
int64_t TimePerFrameFromProbe(std::string_view video_info_text, int64_t connected_time_per_frame);

// floor(duration / time per frame); 0 when either is not positive, saturated to 32 bits.
int32_t FrameCount(int64_t duration, int64_t time_per_frame);

// Frames per second, 10,000,000 / time per frame; 0 when the time per frame is unknown.
double FramesPerSecond(int64_t time_per_frame);

// Seconds per frame, time per frame / 10,000,000.
double SecondsPerFrame(int64_t time_per_frame);

// The position bar's width: round(598 x position / duration) to nearest, ties to even,
// kept within 1..598 (the picture's narrowest and widest). 1 while the duration is unknown.
int32_t PositionBarWidth(int64_t position, int64_t duration);

inline constexpr int32_t kPositionBarMaxWidth = 598;
inline constexpr int32_t kPositionBarHeight = 12;

}  // namespace zqr
