// The option translations of ffmpeg_III; the table stands at the head of ffmpeg_III.cpp.
#include "tools/ffmpeg_iii_rules.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "platform/system.h"

namespace zqr::tools {

namespace {

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
  size_t slash = name.find_last_of(platform::kPathSeparators);
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

// The value of -qscale or -q as a finite number; false for text such as "abc", "nan" or
// "1e400", which would reach ffmpeg as nonsense or silently become another quality.
bool QualityNumber(const std::string& text, double* number) {
  char* end = nullptr;
  *number = std::strtod(text.c_str(), &end);
  return !text.empty() && end == text.c_str() + text.size() && std::isfinite(*number);
}

}  // namespace

Translation Translate(const Args& args) {
  Translation translation;
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    double number = 0;
    if ((args[i] == "-qscale" || args[i] == "-q") && !QualityNumber(args[i + 1], &number)) {
      translation.error = args[i] + " needs a finite number, not \"" + args[i + 1] + "\"";
      return translation;
    }
  }
  std::vector<Group> groups;
  Group current;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // The last argument is the output, whatever it looks like; a relative name that
    // starts with "-" gets "./" so that ffmpeg cannot read it as an option.
    if (i + 1 == args.size()) {
      current.file = arg.starts_with("-") ? std::string(".") + platform::kPathSeparator + arg : arg;
      groups.push_back(current);
      current = Group{};
    } else if (IsOption(arg) && TakesValue(arg) && i + 2 == args.size()) {
      // An option whose only value would be the output: it has none, and is left out.
    } else if (arg == "-i") {
      current.file = args[++i];
      current.is_input = true;
      groups.push_back(current);
      current = Group{};
    } else if (IsOption(arg)) {
      current.options.push_back(arg);
      if (TakesValue(arg)) current.options.push_back(args[++i]);
    } else {
      current.file = arg;
      groups.push_back(current);
      current = Group{};
    }
  }
  Args& result = translation.args;
  for (Group& group : groups) {
    if (!group.is_input) TranslateOutput(group);
    result.insert(result.end(), group.options.begin(), group.options.end());
    if (group.is_input) result.push_back("-i");
    result.push_back(group.file);
  }
  return translation;
}

}  // namespace zqr::tools
