// The program as a user starts it: a copy of the built executable in a scratch folder of
// its own (so its settings, log and TEMP are the test's), the build's tools beside it,
// started on the test display with the given arguments. Its output goes to a file in
// that folder; it is ended at the end of the test when it still runs.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace zqr::test {

// With ZQR_TEST_WINE_BUILD naming a Windows build folder, the program under test is that
// build's zqrstereo.exe, run by Wine on the test display.
bool UnderWine();
// The build folder of the program under test.
std::string ProgramBuildDir();
// `path` as the program under test names it: a Linux path becomes Wine's Z:\... path.
std::string ProgramPath(const std::string& path);

class RunningProgram {
 public:
  // Without tools or arguments: the window alone.
  RunningProgram();
  // With PLUG-IN/ beside the copy and `arguments` on its command line; the scratch folder
  // is there before the program starts, for the files the arguments name.
  explicit RunningProgram(
      const std::function<std::vector<std::string>(const ScratchDir&)>& arguments);
  // Another instance of `first`'s copy, started in its folder beside it, as a user starts
  // the program a second time; `first` outlives it. Its output goes to a file of its own.
  RunningProgram(const RunningProgram& first, std::vector<std::string> arguments);
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  bool started() const { return pid_ != 0; }
  // True while the process has not ended (a crash ends it too).
  bool Alive();
  const ScratchDir& dir() const { return *folder_; }
  // Its exit status once it has ended by itself within `timeout_ms`; -1 while it runs or
  // when a signal ended it.
  int WaitForExit(int timeout_ms);
  // What it wrote on standard output and error.
  std::string Output() const;
  // Once it has ended: started again in the same folder, with the settings and log it left.
  bool StartAgain(std::vector<std::string> arguments);

 private:
  void Start(std::vector<std::string> arguments);

  ScratchDir dir_;
  const ScratchDir* folder_ = &dir_;
  std::string output_ = "program.out";
  pid_t pid_ = 0;
  bool ended_ = false;
  int status_ = -1;
};

}  // namespace zqr::test
