// The probe's reading of a tool report and the frame-rate rule on any text: no crash, the
// summary keeps its head line, and the time per frame is either the fallback or a sane one.
#include <string>
#include <string_view>

#include "tests/fuzz/fuzz_targets.h"
#include "tools/stream_lines.h"
#include "video/play_rules.h"
#include "video/probe.h"

namespace zqr::fuzz {

int Probe(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string rewritten = tools::WithPointStreamNumbers(text);
  ZQR_FUZZ_CHECK(rewritten.size() == text.size());
  const std::string summary = ProbeSummaryText("clip.mp4", rewritten);
  ZQR_FUZZ_CHECK(summary.starts_with("VIDEO file: clip.mp4\r\n"));
  constexpr int64_t kFallback = 333667;
  for (std::string_view info : {text, std::string_view(summary)}) {
    const int64_t time = TimePerFrameFromProbe(info, kFallback);
    ZQR_FUZZ_CHECK(time == kFallback || (time >= 1'000 && time <= 36'000'000'000));
    ZQR_FUZZ_CHECK(TimePerFrameFromProbe(info, 0) >= 0);
  }
  return 0;
}

}  // namespace zqr::fuzz
