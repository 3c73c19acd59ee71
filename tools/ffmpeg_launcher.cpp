// PLUG-IN/ffmpeg: the program's probe and sound tool. It runs the system's ffmpeg with the
// arguments it was given and passes its output, exit status and signals through, with
// one change: ffmpeg's error stream numbers streams "#0:1" today, where the releases the
// probe was written for said "#0.1", so stream lines are rewritten to that numbering and
// the probe's summary finds them.
//
// The real ffmpeg is the one in encoder/ beside this launcher when there is one (the
// Windows layout: no ffmpeg on PATH there), else the first "ffmpeg" on PATH that is not
// this launcher itself.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system.h"
#include "platform/tool_launch.h"
#include "tools/stream_lines.h"

namespace {

std::string RealFfmpeg() {
  namespace platform = zqr::platform;
  const std::string self = platform::ExecutablePath();
  if (!self.empty()) {
    const std::string bundled = self.substr(0, self.find_last_of(platform::kPathSeparators) + 1) +
                                "encoder" + platform::kPathSeparator + "ffmpeg" +
                                platform::kExecutableSuffix;
    if (platform::IsRunnableFile(bundled)) return bundled;
  }
  return platform::FindOnPath("ffmpeg", self);
}

}  // namespace

int main(int argc, char** argv) {
  namespace platform = zqr::platform;
  const std::string ffmpeg = RealFfmpeg();
  if (ffmpeg.empty()) {
    std::fprintf(stderr, "ffmpeg launcher: no ffmpeg found on PATH\n");
    return 127;
  }
  std::vector<std::string> args = platform::ProgramArguments(argc, argv);
  if (args.empty()) args.emplace_back();
  args[0] = ffmpeg;

  // Lines are rewritten whole; ffmpeg's progress line ends with CR and passes at once.
  std::string pending;
  const int status = platform::RunFilteringErrors(
      args,
      [&pending](std::string_view bytes) {
        pending.append(bytes);
        size_t end = 0;
        while (true) {
          const size_t stop = pending.find_first_of("\r\n", end);
          if (stop == std::string::npos) break;
          platform::WriteStandardError(zqr::tools::WithPointStreamNumbers(
              std::string_view(pending).substr(end, stop + 1 - end)));
          end = stop + 1;
        }
        pending.erase(0, end);
      },
      "ffmpeg launcher");
  platform::WriteStandardError(zqr::tools::WithPointStreamNumbers(pending));
  return status;
}
