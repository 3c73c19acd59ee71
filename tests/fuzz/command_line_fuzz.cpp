// The Windows command-line splitter and ffmpeg_III's translation on any text: no crash,
// no argument holds a NUL the text did not have, and whatever ffmpeg_III passes on ends
// with the command line's output, so no option can take its place.
#include <string>
#include <string_view>

#include "platform/process.h"
#include "platform/system.h"
#include "tests/fuzz/fuzz_targets.h"
#include "tools/ffmpeg_iii_rules.h"

namespace zqr::fuzz {

int CommandLine(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args = platform::SplitCommandLine(text);
  size_t total = 0;
  for (const std::string& arg : args) total += arg.size();
  ZQR_FUZZ_CHECK(total <= text.size());
  platform::ParseBatchLine(text);

  if (args.size() < 2) return 0;
  const tools::Args tool_args(args.begin() + 1, args.end());  // the program is not passed on
  const tools::Translation translation = tools::Translate(tool_args);
  if (!translation.error.empty()) return 0;
  const std::string& output = tool_args.back();
  ZQR_FUZZ_CHECK(!translation.args.empty());
  const std::string here = std::string(".") + platform::kPathSeparator;
  ZQR_FUZZ_CHECK(translation.args.back() == (output.starts_with("-") ? here + output : output));
  return 0;
}

}  // namespace zqr::fuzz
