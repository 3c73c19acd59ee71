// Starting external tools from a command line written for the Windows process start:
// the line is split into arguments by the Windows rules and the program is started
// directly (never through a shell), with standard input from /dev/null (NUL), and waited
// for on the calling thread. On Windows the line goes to CreateProcess as it stands. A one-line
// batch file with redirections is run the same way.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zqr::platform {

// Splits a command line into arguments by the rules of the Windows C runtime: blanks and
// tabs separate arguments outside double quotes; a double quote toggles quoting; 2n
// backslashes before a quote give n backslashes and the quote toggles, 2n+1 give n
// backslashes and a literal quote; a doubled quote inside quotes gives one literal quote;
// other backslashes are literal. The first argument (the program) takes everything up to
// the next blank outside quotes, with its quotes removed, and knows no escapes.
std::vector<std::string> SplitCommandLine(std::string_view command_line);

// The command line that SplitCommandLine splits back into exactly `args` (the program
// first): what the Windows process start needs for an argument vector. An argument with
// a blank, a tab, a line break or a quote, or an empty one, is quoted; backslashes are
// doubled only where a quote follows them. The program is quoted when it holds a blank
// (a program name cannot hold a quote).
std::string JoinCommandLine(const std::vector<std::string>& args);

// An unquoted program path that contains blanks is ambiguous. As the Windows process
// start does, try successively longer blank-separated prefixes of the line as the
// program file; `is_program` tells whether a candidate names a file that can be run.
// Returns the number of leading characters of `command_line` that form the program
// (0 when the line starts with a quote or no prefix but the first word qualifies).
size_t UnquotedProgramLength(std::string_view command_line,
                             bool (*is_program)(const std::string& path));

// Where a started program's standard output and error go; an empty path leaves the
// stream as the caller's.
// A path that swallows whatever is written to it.
#if defined(_WIN32)
inline constexpr const char* kDiscardPath = "NUL";
#else
inline constexpr const char* kDiscardPath = "/dev/null";
#endif

struct Redirections {
  std::string output_path;
  bool append_output = false;
  std::string error_path;
  bool append_error = false;
  bool error_to_output = false;  // "2>&1"
  // The files are made new: an existing file of that name makes the start fail, so a tool
  // never writes into a file someone else put there. Without it an existing file is
  // emptied. A link is never followed either way.
  bool new_files = false;
};

// The single command of a batch line with its redirections ("2> file", "> file",
// ">> file", "2>&1") taken out; redirections inside double quotes are plain text.
struct BatchCommand {
  std::string command_line;
  Redirections redirections;
};
BatchCommand ParseBatchLine(std::string_view line);

struct ProcessResult {
  bool started = false;  // the program could be started
  int exit_code = -1;    // its exit code; -1 when it did not start or ended by a signal
};

// Splits `command_line`, starts the program (looked up on PATH when it names no folder)
// with the given redirections and standard input from /dev/null, and waits for its end.
// No descriptor of the caller is passed on but the three standard streams.
ProcessResult RunCommandLine(std::string_view command_line, const Redirections& redirections = {});

// The same for a program and its arguments as they are: nothing is split or unquoted, so
// any file name (quotes, line breaks and all) reaches the program as one argument.
ProcessResult RunArguments(const std::vector<std::string>& args,
                           const Redirections& redirections = {});

// A program started from a command line as RunCommandLine starts it, but left running:
// its standard input is a pipe that this object fills, so a program that reads a stream
// of pictures can work on them while they are being made. It ends with the thread that
// started it, should that thread's process be killed: an encoder must never finish a movie
// nobody will take.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // kills and waits for a program still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // False when nothing could be started.
  // Without `fed` the program's standard input is /dev/null instead.
  bool Start(std::string_view command_line, const Redirections& redirections = {}, bool fed = true);
  // The same from an argument vector.
  bool Start(const std::vector<std::string>& args, const Redirections& redirections, bool fed);
  // Whether the program has ended (or never started); it may still be waited for.
  bool Ended() const;
  // Writes `bytes` bytes into the program's input, waiting while the pipe is full. False
  // when the program has stopped reading.
  bool Send(const void* data, size_t bytes);
  // The end of the input: the program sees the end of its stream.
  void CloseInput();
  // Waits for the end; the exit code, -1 when it did not start or ended by a signal.
  int Wait();
  // Ends the program at once, with the programs it has started (it may still be waited
  // for).
  void Kill();

 private:
  // On Windows pid_ and input_ hold the process's handle and the pipe's, and job_ the job
  // object the program and the programs it starts run in.
  int pid_ = -1;  // a program started and not yet waited for
  int input_ = -1;
#if defined(_WIN32)
  int job_ = -1;
#endif
  int exit_code_ = -1;  // of the program last waited for
};

// Opens a document or an address with the desktop's own program for it (xdg-open, or the
// shell's ShellExecuteEx on Windows), and waits for the opener. False when no opener could be
// started or it reported a failure.
bool OpenWithDesktop(const std::string& target);
// The opener's name, for the message that says it failed.
#if defined(_WIN32)
inline constexpr const char* kDesktopOpenerName = "ShellExecute";
#else
inline constexpr const char* kDesktopOpenerName = "xdg-open";
#endif

// Runs the first line of a batch file: its redirections are honoured, the rest is
// started as RunCommandLine starts a command line. A missing or empty file starts
// nothing.
ProcessResult RunBatchFile(const std::string& batch_path);

}  // namespace zqr::platform
