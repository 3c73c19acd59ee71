// ffmpeg_III: the converter's encoder tool. It accepts the encoder command lines the
// converter composes, which are written in the option dialect of the ffmpeg releases of
// around 2011, translates what today's ffmpeg refuses or now reads differently, and runs
// the system's ffmpeg in its own place (exec; on Windows it starts it and waits), so
// ffmpeg's messages and exit code are the tool's. Everything not listed below is passed on
// unchanged.
//
// Translations, applied to the options of each output file (given => passed on: why):
//
//   -sameq                      => dropped
//       removed in ffmpeg 1.1; "same quantizer as the source" means nothing for pictures
//   -b RATE                     => -b:v RATE
//       -b alone is ambiguous today; it was the video bit rate then
//   -qscale N, -q N  (libx264)  => -crf N+10, or dropped when -crf is given
//       libx264 ignores a fixed quantizer; N+10 is the converter's own quality-to-crf rule
//   -qscale N, -q N  (libvpx)   => -crf N+10, with -b:v 10M as ceiling when no rate is given
//       libvpx ignores a fixed quantizer; VP8 constant quality needs a bit-rate ceiling
//   -qscale N, -q N  (libtheora) => -q:v 10-(N-1)/2, kept within 0..10
//       Theora's scale runs 0..10 upwards, the converter's 1 (best) .. 21 (lower)
//   -qscale N, -q N  (others)   => -q:v N
//       the video quantizer, as -qscale meant then (today it is ambiguous)
//   -crf  (theora, mpeg4, flv1) => dropped
//       these encoders have no constant-rate-factor mode
//   -acodec mp3                 => -acodec libmp3lame
//       names the MP3 encoder instead of whichever registers first
//   -partitions -parti8x8+parti4x4+partp8x8-partp4x4-partb8x8 => -partitions i4x4,p8x8
//       libx264 takes a list today and reads the old +/- flags as "all on"; none left: "none"
//   -coder, -partitions  (not libx264) => dropped
//       private libx264 options; any other encoder would only warn about them
//   -b_strategy, -sc_threshold  (not libx264 or mpeg4) => dropped
//       private options of those two encoders
//   no -pix_fmt                 => -pix_fmt yuv420p
//       32-bit picture files make 4:4:4 or alpha video today, which many players cannot
//       play; the encoders of that era wrote 4:2:0
//   no -vf, with the above      => -vf crop=trunc(iw/2)*2:trunc(ih/2)*2
//       4:2:0 needs an even frame size; an odd last row or column is cut
//   -f webm, no codec named     => -vcodec libvpx -acodec libvorbis
//       WebM meant VP8 and Vorbis then; today's Opus default refuses 44100, 22050, 11025 Hz
//   -f m4v                      => -f ipod
//       raw MPEG-4 video has no sound track; an .m4v file is an MP4 (iPod) file, and gets
//       H.264 and AAC as MP4 does
//
//   -qscale/-q  not a finite number => refused, exit status 1
//       "abc" would silently become another quality, "nan" or "1e400" reach ffmpeg
//   the last argument           => always the output file ("./" put before a name that
//       starts with "-", so that ffmpeg cannot take it for an option)
//
// A first argument "--dry-run" prints the program and arguments that would be run, one
// per line, and exits 0 without running anything.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/path.h"
#include "platform/system.h"
#include "platform/tool_launch.h"
#include "tools/ffmpeg_iii_rules.h"

namespace {

using zqr::tools::Args;

// The real ffmpeg: PLUG-IN/ffmpeg beside this tool, else "ffmpeg" on PATH.
std::string RealFfmpeg() {
  namespace platform = zqr::platform;
  const std::string self = platform::ExecutablePath();
  if (!self.empty()) {
    const std::string beside = self.substr(0, self.find_last_of(platform::kPathSeparators) + 1) +
                               "ffmpeg" + platform::kExecutableSuffix;
    std::error_code error;
    if (platform::IsRunnableFile(beside) &&
        !std::filesystem::equivalent(platform::PathOf(beside), platform::PathOf(self), error) &&
        !error) {
      return beside;
    }
  }
  return "ffmpeg";
}

}  // namespace

int main(int argc, char** argv) {
  Args args = zqr::platform::ProgramArguments(argc, argv);
  if (!args.empty()) args.erase(args.begin());
  bool dry_run = !args.empty() && args.front() == "--dry-run";
  if (dry_run) args.erase(args.begin());

  zqr::tools::Translation translation = zqr::tools::Translate(args);
  if (!translation.error.empty()) {
    std::fprintf(stderr, "ffmpeg_III: %s\n", translation.error.c_str());
    return 1;
  }
  Args& translated = translation.args;
  std::string program = RealFfmpeg();
  if (dry_run) {
    std::printf("%s\n", program.c_str());
    for (const std::string& arg : translated) std::printf("%s\n", arg.c_str());
    return 0;
  }

  Args run{program};
  run.insert(run.end(), translated.begin(), translated.end());
  return zqr::platform::RunInPlace(run, "ffmpeg_III");
}
