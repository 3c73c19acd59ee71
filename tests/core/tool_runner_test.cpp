// Starting tools from command lines and batch files: arguments as the tool sees them,
// redirections, missing tools, standard input and private descriptors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "core/tool_runner.h"
#include "platform/process.h"
#include "tests/support/test_support.h"

namespace zqr {
namespace {

using test::ReadFile;
using test::ScratchDir;

// A stand-in tool that writes each argument on a line of `record`.
std::string MakeRecorder(const std::string& path, const std::string& record) {
  test::WriteFile(path, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + record +
                            "'\necho 'to stderr' >&2\nexit 7\n");
  chmod(path.c_str(), 0755);
  return path;
}

TEST(RunCommandLine, ToolGetsTheSplitArgumentsAndItsExitCodeIsKnown) {
  ScratchDir dir;
  std::string tool = MakeRecorder(dir.File("tool"), dir.File("args.txt"));
  platform::ProcessResult result =
      platform::RunCommandLine("\"" + tool + "\"  -i \"/v/a b.avi\"  x\\\"y -y \"\"");
  EXPECT_TRUE(result.started);
  EXPECT_EQ(result.exit_code, 7);
  EXPECT_EQ(ReadFile(dir.File("args.txt")), "-i\n/v/a b.avi\nx\"y\n-y\n\n");
}

TEST(RunCommandLine, MissingToolDoesNotStart) {
  ScratchDir dir;
  EXPECT_FALSE(platform::RunCommandLine("\"" + dir.File("none") + "\" -i x").started);
  EXPECT_FALSE(platform::RunCommandLine("zqr-no-such-program-anywhere -i x").started);
  EXPECT_FALSE(platform::RunCommandLine("").started);
  EXPECT_EQ(RunToolForStatus(""), -1);
  EXPECT_EQ(RunToolForStatus("\"" + dir.File("none") + "\""), -1);
}

TEST(RunCommandLine, ProgramIsLookedUpOnPath) {
  platform::ProcessResult result = platform::RunCommandLine("sh -c \"exit 3\"");
  EXPECT_TRUE(result.started);
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_EQ(RunToolForStatus("true"), 0);
}

TEST(RunCommandLine, UnquotedProgramInAFolderWithBlanks) {
  ScratchDir dir;
  ASSERT_EQ(mkdir(dir.File("my app").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir.File("my app/PLUG-IN").c_str(), 0755), 0);
  std::string tool = MakeRecorder(dir.File("my app/PLUG-IN/ffmpeg"), dir.File("args.txt"));
  platform::ProcessResult result = platform::RunCommandLine(tool + " -i \"/v/c d.avi\" -y x");
  EXPECT_TRUE(result.started);
  EXPECT_EQ(ReadFile(dir.File("args.txt")), "-i\n/v/c d.avi\n-y\nx\n");
}

TEST(RunCommandLine, StandardInputIsEmpty) {
  ScratchDir dir;
  // A tool that reads its standard input ends at once instead of waiting on the terminal.
  platform::ProcessResult result =
      platform::RunCommandLine("sh -c \"cat > '" + dir.File("in.txt") + "'\"");
  EXPECT_TRUE(result.started);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(test::FileExists(dir.File("in.txt")));
  EXPECT_EQ(test::FileSize(dir.File("in.txt")), 0);
}

TEST(RunCommandLine, CallersDescriptorsAreNotInherited) {
  int fd = open("/dev/null", O_RDONLY);  // deliberately without close-on-exec
  ASSERT_GE(fd, 0);
  ASSERT_GE(dup2(fd, 57), 0);
  platform::ProcessResult result = platform::RunCommandLine("sh -c \"test -e /proc/self/fd/57\"");
  close(57);
  close(fd);
  EXPECT_TRUE(result.started);
  EXPECT_EQ(result.exit_code, 1);
}

TEST(RunCommandLine, Redirections) {
  ScratchDir dir;
  platform::Redirections redirect;
  redirect.output_path = dir.File("out.txt");
  redirect.error_path = dir.File("err.txt");
  platform::RunCommandLine("sh -c \"echo out; echo err >&2\"", redirect);
  EXPECT_EQ(ReadFile(dir.File("out.txt")), "out\n");
  EXPECT_EQ(ReadFile(dir.File("err.txt")), "err\n");

  redirect.append_output = true;
  redirect.error_path.clear();
  redirect.error_to_output = true;
  platform::RunCommandLine("sh -c \"echo two; echo three >&2\"", redirect);
  EXPECT_EQ(ReadFile(dir.File("out.txt")), "out\ntwo\nthree\n");
}

TEST(RunBatchFile, RunsTheFirstLineWithItsErrorRedirection) {
  ScratchDir dir;
  std::string tool = MakeRecorder(dir.File("tool"), dir.File("args.txt"));
  ASSERT_TRUE(test::WriteFile(dir.File("run.bat"), "\"" + tool + "\" -i \"/v/x 2> y.avi\" 2> \"" +
                                                       dir.File("report.txt") + "\"\r\n"));
  platform::ProcessResult result = platform::RunBatchFile(dir.File("run.bat"));
  EXPECT_TRUE(result.started);
  EXPECT_EQ(ReadFile(dir.File("args.txt")), "-i\n/v/x 2> y.avi\n");
  EXPECT_EQ(ReadFile(dir.File("report.txt")), "to stderr\n");
}

TEST(RunBatchFile, MissingFileOrUnwritableReportStartsNothing) {
  ScratchDir dir;
  EXPECT_FALSE(platform::RunBatchFile(dir.File("none.bat")).started);
  std::string tool = MakeRecorder(dir.File("tool"), dir.File("args.txt"));
  ASSERT_TRUE(test::WriteFile(dir.File("run.bat"),
                              "\"" + tool + "\" 2> \"" + dir.File("no/such/dir/r.txt") + "\"\r\n"));
  EXPECT_FALSE(platform::RunBatchFile(dir.File("run.bat")).started);
  EXPECT_FALSE(test::FileExists(dir.File("args.txt")));
}

}  // namespace
}  // namespace zqr
