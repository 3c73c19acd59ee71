// Running a tool for a test on Windows, through the program's own process seam: the output
// goes to files in a scratch folder, read back when the tool has ended.
#include <filesystem>

#include "platform/process.h"
#include "tests/support/test_support.h"

namespace zqr::test {

RunResult Run(const std::vector<std::string>& argv, const std::function<void(int pid)>& meanwhile) {
  RunResult result;
  // No pid to hand out here: the tests that act on a running tool are POSIX-only.
  if (argv.empty() || meanwhile) return result;
  const ScratchDir streams;
  platform::Redirections redirections;
  redirections.output_path = streams.File("out");
  redirections.error_path = streams.File("err");
  const platform::ProcessResult ran = platform::RunArguments(argv, redirections);
  if (ran.started) result.exit_code = ran.exit_code;
  result.output = ReadFile(redirections.output_path);
  result.errors = ReadFile(redirections.error_path);
  return result;
}

}  // namespace zqr::test
