// ffmpeg_III's translation of an encoder command line of the old option dialect into
// today's ffmpeg arguments (the table of translations stands at the head of
// ffmpeg_III.cpp). Pure, so tests and the fuzzer call it directly.
#pragma once

#include <string>
#include <vector>

namespace zqr::tools {

using Args = std::vector<std::string>;

struct Translation {
  Args args;          // what ffmpeg gets; its last element is always the output
  std::string error;  // non-empty when the command line cannot be passed on
};

Translation Translate(const Args& args);

}  // namespace zqr::tools
