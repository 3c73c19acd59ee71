// Windows process start for the tool runner: CreateProcessW with the command line as it
// was composed (never a shell), the standard handles chosen for the program and no other
// handle of ours. A child left running is put in a job object that ends it, and whatever
// it starts, when it is killed or when this process ends, as a process group and
// PR_SET_PDEATHSIG do on Linux; its input comes through a pipe.
#include "platform/process.h"

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/win32/pipe_write.h"
#include "platform/win32/spawn.h"
#include "platform/win32/win32_common.h"

namespace zqr::platform {

using win32::HandleOf;
using win32::ValueOf;

namespace {

// A larger pipe lets a picture go over in fewer turns between the two programs.
constexpr DWORD kPipeBytes = 1 << 20;

// A redirection target, never written through a link; a new file is never one that was
// there. INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE OpenRedirection(const std::string& path, bool append, bool new_file) {
  const DWORD access = append ? (FILE_APPEND_DATA | SYNCHRONIZE) : GENERIC_WRITE;
  const HANDLE file = CreateFileW(win32::Wide(path).c_str(), access, win32::kShareAll, nullptr,
                                  new_file ? CREATE_NEW : OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  // The discard device is no regular file, and may be written.
  const bool device = GetFileType(file) == FILE_TYPE_CHAR;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool link = !device && GetFileInformationByHandle(file, &info) &&
                    (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  FILE_END_OF_FILE_INFO empty{};
  if (link || (!append && !device &&
               !SetFileInformationByHandle(file, FileEndOfFileInfo, &empty, sizeof empty))) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

// The handles a program starts with: `input` (none: the discard device), the redirected
// streams, the rest as the caller's. Owned handles are closed by Close.
struct ChildHandles {
  win32::StandardHandles standard;
  std::vector<HANDLE> owned;
  bool ok = true;

  ChildHandles(const Redirections& redirections, HANDLE input) {
    standard.input = input;
    standard.output = GetStdHandle(STD_OUTPUT_HANDLE);
    standard.error = GetStdHandle(STD_ERROR_HANDLE);
    if (!redirections.output_path.empty()) {
      standard.output = Own(OpenRedirection(redirections.output_path, redirections.append_output,
                                            redirections.new_files));
    }
    if (redirections.error_to_output) {
      standard.error = standard.output;
    } else if (!redirections.error_path.empty()) {
      standard.error = Own(OpenRedirection(redirections.error_path, redirections.append_error,
                                           redirections.new_files));
    }
  }
  ~ChildHandles() {
    for (HANDLE handle : owned) CloseHandle(handle);
  }
  ChildHandles(const ChildHandles&) = delete;
  ChildHandles& operator=(const ChildHandles&) = delete;

  HANDLE Own(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) {
      ok = false;
    } else {
      owned.push_back(handle);
    }
    return handle;
  }
};

// Starts the command line; the process handle, or null when nothing was started (a
// redirection that cannot be opened starts nothing, as the POSIX start fails then).
HANDLE Start(const std::string& command_line, const Redirections& redirections, HANDLE input,
             HANDLE& job) {
  ChildHandles handles(redirections, input);
  if (!handles.ok) return nullptr;
  PROCESS_INFORMATION started{};
  // A program bound to a job is one left running: it leads its own group (see Kill).
  if (!win32::StartProcess(command_line, handles.standard, job, started, job != nullptr)) {
    return nullptr;
  }
  CloseHandle(started.hThread);
  return started.hProcess;
}

// Waits for the end of `process` and closes its handle; its exit code.
int WaitAndClose(HANDLE process) {
  WaitForSingleObject(process, INFINITE);
  const int code = win32::ExitCodeOf(process);
  CloseHandle(process);
  return code;
}

ProcessResult RunLine(const std::string& command_line, const Redirections& redirections) {
  ProcessResult result;
  HANDLE no_job = nullptr;
  const HANDLE process = Start(command_line, redirections, INVALID_HANDLE_VALUE, no_job);
  if (process == nullptr) return result;
  result.started = true;
  result.exit_code = WaitAndClose(process);
  return result;
}

}  // namespace

ProcessResult RunCommandLine(std::string_view command_line, const Redirections& redirections) {
  return RunLine(std::string(command_line), redirections);
}

ProcessResult RunArguments(const std::vector<std::string>& args, const Redirections& redirections) {
  if (args.empty() || args.front().empty()) return ProcessResult{};
  return RunLine(JoinCommandLine(args), redirections);
}

ChildProcess::~ChildProcess() {
  Kill();
  Wait();
}

bool ChildProcess::Start(const std::vector<std::string>& args, const Redirections& redirections,
                         bool fed) {
  if (args.empty() || args.front().empty()) return false;
  return Start(JoinCommandLine(args), redirections, fed);
}

bool ChildProcess::Start(std::string_view command_line, const Redirections& redirections,
                         bool fed) {
  if (pid_ >= 0) return false;
  HANDLE read_end = INVALID_HANDLE_VALUE, write_end = INVALID_HANDLE_VALUE;
  if (fed && !CreatePipe(&read_end, &write_end, nullptr, kPipeBytes)) return false;
  HANDLE job = win32::NewKillOnCloseJob();
  const HANDLE process =
      zqr::platform::Start(std::string(command_line), redirections, read_end, job);
  if (read_end != INVALID_HANDLE_VALUE) CloseHandle(read_end);
  if (process == nullptr) {
    if (write_end != INVALID_HANDLE_VALUE) CloseHandle(write_end);
    if (job != nullptr) CloseHandle(job);
    return false;
  }
  pid_ = ValueOf(process);
  job_ = ValueOf(job);
  input_ = ValueOf(write_end);
  return true;
}

bool ChildProcess::Send(const void* data, size_t bytes) {
  return input_ >= 0 &&
         win32::WriteToPipe(HandleOf(input_), static_cast<const char*>(data), bytes, false);
}

void ChildProcess::CloseInput() {
  if (input_ >= 0) CloseHandle(HandleOf(input_));
  input_ = -1;
}

int ChildProcess::Wait() {
  CloseInput();
  if (pid_ >= 0) {
    exit_code_ = WaitAndClose(HandleOf(pid_));
    pid_ = -1;
  }
  // Whatever the program left running in its job ends with it.
  if (job_ >= 0) CloseHandle(HandleOf(job_));
  job_ = -1;
  return exit_code_;
}

bool ChildProcess::Ended() const {
  return pid_ < 0 || WaitForSingleObject(HandleOf(pid_), 0) == WAIT_OBJECT_0;
}

void ChildProcess::Kill() {
  if (pid_ < 0) return;
  if (job_ >= 0) {
    TerminateJobObject(HandleOf(job_), win32::kKilledExitCode);
  } else {
    TerminateProcess(HandleOf(pid_), win32::kKilledExitCode);
  }
}

bool OpenWithDesktop(const std::string& target) {
  // The shell wants COM on the calling thread; it may be there already, in any mode.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const std::wstring file = win32::Wide(target);
  SHELLEXECUTEINFOW request{};
  request.cbSize = sizeof request;
  request.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  request.lpVerb = L"open";
  request.lpFile = file.c_str();
  request.nShow = SW_SHOWNORMAL;
  const bool opened = ShellExecuteExW(&request) != 0;
  if (SUCCEEDED(com)) CoUninitialize();
  return opened;
}

ProcessResult RunBatchFile(const std::string& batch_path) {
  std::string text;
  if (!ReadRegularFile(batch_path, text, std::size_t{1} << 20) || text.empty()) {
    return ProcessResult{};
  }
  BatchCommand command = ParseBatchLine(text);  // the first line alone
  return RunCommandLine(command.command_line, command.redirections);
}

}  // namespace zqr::platform
