// CreateProcessW with a handle list, job objects and exit codes.
#include "platform/win32/spawn.h"

#include <vector>

namespace zqr::platform::win32 {

namespace {
// An inheritable copy of `handle` (the original may not be inheritable, and making it so
// would let every program started meanwhile inherit it); the discard device when there is
// no handle to copy.
// A character device that is not a console (NUL, or /dev/null under Wine, which refuses to
// pass that one on) is replaced by a discard device of our own as well.
HANDLE InheritableCopy(HANDLE handle, bool for_reading) {
  HANDLE copy = nullptr;
  DWORD console_mode = 0;
  const bool other_device = handle != nullptr && handle != INVALID_HANDLE_VALUE &&
                            GetFileType(handle) == FILE_TYPE_CHAR &&
                            !GetConsoleMode(handle, &console_mode);
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE && !other_device &&
      DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                      DUPLICATE_SAME_ACCESS)) {
    return copy;
  }
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileW(L"NUL", for_reading ? GENERIC_READ : GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
}
}  // namespace

bool StartProcess(const std::string& command_line, const StandardHandles& handles, HANDLE& job,
                  PROCESS_INFORMATION& started, bool own_group) {
  started = PROCESS_INFORMATION{};
  std::wstring line = Wide(command_line);
  if (line.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const HANDLE input = InheritableCopy(handles.input, true);
  const HANDLE output = InheritableCopy(handles.output, false);
  // Standard error to standard output ("2>&1") is the same handle twice: one copy.
  const HANDLE error =
      handles.error == handles.output ? output : InheritableCopy(handles.error, false);
  std::vector<HANDLE> inherited;
  for (HANDLE handle : {input, output, error}) {
    if (handle == INVALID_HANDLE_VALUE) continue;
    bool listed = false;
    for (HANDLE known : inherited) listed = listed || known == handle;
    if (!listed) inherited.push_back(handle);
  }

  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> storage(size);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
  bool ok = InitializeProcThreadAttributeList(attributes, 1, 0, &size) != 0;
  if (ok) {
    ok = UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                   inherited.data(), inherited.size() * sizeof(HANDLE), nullptr,
                                   nullptr) != 0;
  }
  if (ok) {
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = output;
    startup.StartupInfo.hStdError = error;
    startup.lpAttributeList = attributes;
    // A console program started from the window gets a console of its own, never shown.
    DWORD flags = NORMAL_PRIORITY_CLASS | EXTENDED_STARTUPINFO_PRESENT |
                  CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED;
    if (GetConsoleWindow() == nullptr) flags |= CREATE_NO_WINDOW;
    if (own_group) flags |= CREATE_NEW_PROCESS_GROUP;
    ok = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                        &startup.StartupInfo, &started) != 0;
    DeleteProcThreadAttributeList(attributes);
  }
  const DWORD failure = GetLastError();
  for (HANDLE handle : inherited) CloseHandle(handle);
  if (!ok) {
    SetLastError(failure);
    return false;
  }
  if (job != nullptr && !AssignProcessToJobObject(job, started.hProcess)) {
    CloseHandle(job);
    job = nullptr;
  }
  ResumeThread(started.hThread);
  return true;
}

HANDLE NewKillOnCloseJob() {
  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job == nullptr) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    CloseHandle(job);
    return nullptr;
  }
  return job;
}

int ExitCodeOf(HANDLE process) {
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code) || code == STILL_ACTIVE) return -1;
  return code >= 0xC0000000u ? -1 : static_cast<int>(code);
}

}  // namespace zqr::platform::win32
