// ffmpeg_III: the converter's encoder tool. It accepts the encoder command lines the
// converter composes, which are written in the option dialect of the ffmpeg releases of
// around 2011, translates what today's ffmpeg refuses or now reads differently, and runs
// the system's ffmpeg in its own place (exec), so ffmpeg's messages and exit code are the
// tool's. Everything not listed below is passed on unchanged.
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
// A first argument "--dry-run" prints the program and arguments that would be run, one
// per line, and exits 0 without running anything.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

// ffmpeg options that take no value; every other option takes one.
const std::set<std::string> kFlagOptions = {
    "-y",       "-n",         "-an",      "-vn",    "-sn",          "-dn",
    "-sameq",   "-shortest",  "-nostdin", "-stdin", "-hide_banner", "-stats",
    "-nostats", "-benchmark", "-copyts",  "-re",    "-xerror",      "-ignore_unknown",
    "-dump",    "-hex",       "-version",
};

bool IsOption(const std::string& arg) {
  return arg.size() > 1 && arg[0] == '-';
}

bool TakesValue(const std::string& option) {
  return kFlagOptions.count(option) == 0;
}

// One file of the command line with the options that stand before it.
struct Group {
  Args options;  // option/value pairs and flags, in order
  std::string file;
  bool is_input = false;
};

std::string LowerExtension(const std::string& name) {
  size_t dot = name.find_last_of('.');
  size_t slash = name.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && slash > dot)) return "";
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ext;
}

// Index of the value of the last occurrence of any of `names`, or -1.
int FindValue(const Args& options, std::initializer_list<const char*> names) {
  int found = -1;
  for (size_t i = 0; i < options.size(); ++i) {
    if (!IsOption(options[i])) continue;
    const bool has_value = TakesValue(options[i]) && i + 1 < options.size();
    for (const char* name : names) {
      if (has_value && options[i] == name) found = static_cast<int>(i + 1);
    }
    if (has_value) ++i;
  }
  return found;
}

bool HasOption(const Args& options, std::initializer_list<const char*> names) {
  for (size_t i = 0; i < options.size(); ++i) {
    if (!IsOption(options[i])) continue;
    for (const char* name : names) {
      if (options[i] == name) return true;
    }
    if (TakesValue(options[i])) ++i;
  }
  return false;
}

std::string Container(const Group& group) {
  int f = FindValue(group.options, {"-f"});
  return f >= 0 ? group.options[f] : LowerExtension(group.file);
}

// The video encoder the output will get: the one named, else the container's default
// (webm's after our own choice of VP8).
std::string VideoEncoder(const Group& group, const std::string& container) {
  int v = FindValue(group.options, {"-vcodec", "-c:v", "-codec:v"});
  if (v >= 0) return group.options[v];
  if (container == "mp4" || container == "mov" || container == "ipod" || container == "m4v") {
    return "libx264";
  }
  if (container == "ogg" || container == "ogv") return "libtheora";
  if (container == "webm") return "libvpx";
  if (container == "avi") return "mpeg4";
  if (container == "flv") return "flv";
  return "";
}

// "-parti8x8+parti4x4+partp8x8-partp4x4-partb8x8" to "i4x4,p8x8".
std::string PartitionList(const std::string& flags) {
  std::string list;
  size_t i = 0;
  while (i < flags.size()) {
    char sign = flags[i];
    if (sign != '+' && sign != '-') return flags;  // already today's form
    size_t end = flags.find_first_of("+-", i + 1);
    if (end == std::string::npos) end = flags.size();
    std::string name = flags.substr(i + 1, end - i - 1);
    if (name.rfind("part", 0) == 0) name = name.substr(4);
    if (sign == '+' && !name.empty()) list += (list.empty() ? "" : ",") + name;
    i = end;
  }
  return list.empty() ? "none" : list;
}

std::string NumberText(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

void TranslateOutput(Group& group) {
  std::string container = Container(group);
  if (container == "m4v") {
    container = "ipod";
    int f = FindValue(group.options, {"-f"});
    if (f >= 0) group.options[f] = "ipod";
  }
  const bool names_video = HasOption(group.options, {"-vcodec", "-c:v", "-codec:v"});
  const bool names_audio = HasOption(group.options, {"-acodec", "-c:a", "-codec:a"});
  const std::string video = VideoEncoder(group, container);
  const bool x264 = video == "libx264";
  const bool vpx = video == "libvpx" || video == "libvpx-vp9";
  const bool theora = video == "libtheora";
  const bool has_crf = HasOption(group.options, {"-crf"});
  const bool has_bitrate = HasOption(group.options, {"-b", "-b:v"});
  const bool crf_capable = x264 || vpx;

  Args out;
  bool vpx_needs_ceiling = false;
  for (size_t i = 0; i < group.options.size(); ++i) {
    const std::string& option = group.options[i];
    const bool has_value = IsOption(option) && TakesValue(option) && i + 1 < group.options.size();
    const std::string value = has_value ? group.options[i + 1] : "";
    if (has_value) ++i;
    if (option == "-sameq") continue;
    if (!has_value) {
      out.push_back(option);
      continue;
    }
    if (option == "-b") {
      out.insert(out.end(), {"-b:v", value});
    } else if (option == "-qscale" || option == "-q") {
      const double n = std::strtod(value.c_str(), nullptr);
      if (x264 || vpx) {
        if (has_crf) continue;
        out.insert(out.end(), {"-crf", NumberText(n + 10)});
        vpx_needs_ceiling = vpx && !has_bitrate;
      } else if (theora) {
        double quality = 10.0 - (n - 1.0) / 2.0;
        out.insert(out.end(), {"-q:v", NumberText(quality < 0 ? 0 : quality > 10 ? 10 : quality)});
      } else {
        out.insert(out.end(), {"-q:v", value});
      }
    } else if (option == "-crf") {
      if (crf_capable) {
        out.insert(out.end(), {option, value});
        vpx_needs_ceiling = vpx && !has_bitrate;
      }
    } else if ((option == "-acodec" || option == "-c:a" || option == "-codec:a") &&
               value == "mp3") {
      out.insert(out.end(), {option, "libmp3lame"});
    } else if (option == "-partitions") {
      if (x264) out.insert(out.end(), {option, PartitionList(value)});
    } else if (option == "-coder") {
      if (x264) out.insert(out.end(), {option, value});
    } else if (option == "-b_strategy" || option == "-sc_threshold") {
      if (x264 || video == "mpeg4") out.insert(out.end(), {option, value});
    } else {
      out.insert(out.end(), {option, value});
    }
  }
  if (container == "webm") {
    if (!names_video) out.insert(out.end(), {"-vcodec", "libvpx"});
    if (!names_audio) out.insert(out.end(), {"-acodec", "libvorbis"});
  }
  if (vpx_needs_ceiling) out.insert(out.end(), {"-b:v", "10M"});
  const bool has_video = !HasOption(group.options, {"-vn"}) && !video.empty();
  if (has_video && !HasOption(group.options, {"-pix_fmt"})) {
    out.insert(out.end(), {"-pix_fmt", "yuv420p"});
    if (!HasOption(group.options, {"-vf", "-filter:v", "-filter_complex"})) {
      out.insert(out.end(), {"-vf", "crop=trunc(iw/2)*2:trunc(ih/2)*2"});
    }
  }
  group.options = out;
}

Args Translate(const Args& args) {
  std::vector<Group> groups;
  Group current;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-i" && i + 1 < args.size()) {
      current.file = args[++i];
      current.is_input = true;
      groups.push_back(current);
      current = Group{};
    } else if (IsOption(arg)) {
      current.options.push_back(arg);
      if (TakesValue(arg) && i + 1 < args.size()) current.options.push_back(args[++i]);
    } else {
      current.file = arg;
      groups.push_back(current);
      current = Group{};
    }
  }
  Args result;
  for (Group& group : groups) {
    if (!group.is_input) TranslateOutput(group);
    result.insert(result.end(), group.options.begin(), group.options.end());
    if (group.is_input) result.push_back("-i");
    result.push_back(group.file);
  }
  // Options after the last file stay where they were (ffmpeg warns about them itself).
  result.insert(result.end(), current.options.begin(), current.options.end());
  return result;
}

bool IsRunnable(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The real ffmpeg: PLUG-IN/ffmpeg beside this tool, else "ffmpeg" on PATH.
std::string RealFfmpeg() {
  char self[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", self, PATH_MAX);
  if (n > 0) {
    std::string path(self, static_cast<size_t>(n));
    std::string beside = path.substr(0, path.find_last_of('/') + 1) + "ffmpeg";
    char resolved_beside[PATH_MAX + 1];
    if (IsRunnable(beside) && realpath(beside.c_str(), resolved_beside) != nullptr &&
        path != resolved_beside) {
      return beside;
    }
  }
  return "ffmpeg";
}

}  // namespace

int main(int argc, char** argv) {
  Args args(argv + 1, argv + argc);
  bool dry_run = !args.empty() && args.front() == "--dry-run";
  if (dry_run) args.erase(args.begin());

  Args translated = Translate(args);
  std::string program = RealFfmpeg();
  if (dry_run) {
    std::printf("%s\n", program.c_str());
    for (const std::string& arg : translated) std::printf("%s\n", arg.c_str());
    return 0;
  }

  std::vector<char*> exec_args;
  exec_args.push_back(program.data());
  for (std::string& arg : translated) exec_args.push_back(arg.data());
  exec_args.push_back(nullptr);
  execvp(program.c_str(), exec_args.data());
  std::fprintf(stderr, "ffmpeg_III: cannot run %s: %s\n", program.c_str(), std::strerror(errno));
  return 127;
}
