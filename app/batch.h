// The batch mode, `zqrstereo --convert IN OUT [options]`: the window's Load and Convert
// commands on the headless backend, whose dialogs answer IN and OUT and whose question
// about another compression answers No. Progress goes to standard error; the exit status
// is 0 when the movie was written, 1 when the conversion failed, 2 for a bad command line.
#pragma once

#include <string>
#include <vector>

namespace zqr {

inline constexpr int kBatchOk = 0;
inline constexpr int kBatchFailed = 1;
inline constexpr int kBatchUsage = 2;

// One image or output option of the command line, such as ("--sharpen", "3"), applied to
// the settings. Returns empty text, or the message naming the option and its range.
std::string ApplyBatchSetting(const std::string& option, const std::string& value);

// The options with a value that ApplyBatchSetting knows (the options table's flags), and
// the values each takes.
struct BatchSettingOption {
  std::string name;
  std::string values;
  std::string help;
};
std::vector<BatchSettingOption> BatchSettingOptions();

// The whole command line (argv[0] is the program). Returns the exit status.
int BatchMain(int argc, char** argv);

}  // namespace zqr
