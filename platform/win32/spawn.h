// Starting a program on Windows with exactly the standard handles chosen for it: the
// handles are made inheritable for the start alone and listed (PROC_THREAD_ATTRIBUTE_
// HANDLE_LIST), so no other handle of this process (another thread's log file or pipe)
// reaches the program. Shared by the process runner and the tool programs.
#pragma once

#include <string>

#include "platform/win32/win32_common.h"

namespace zqr::platform::win32 {

struct StandardHandles {
  // INVALID_HANDLE_VALUE (or null) gives the program the discard device for that stream.
  HANDLE input = INVALID_HANDLE_VALUE;
  HANDLE output = INVALID_HANDLE_VALUE;
  HANDLE error = INVALID_HANDLE_VALUE;
};

// Starts `command_line` as CreateProcess takes it (the program looked up as it looks it
// up), with its window hidden and normal priority. With `job` the program is put into that
// job object before it runs a single instruction; a job that cannot take it (an older
// system nests no jobs) is closed and `job` made null, leaving the program in this one's. False
// when nothing was started (GetLastError says why); the caller closes the handles in
// `started`.
// With `own_group` the program leads a console process group of its own: Ctrl+C on the
// console reaches this program alone, which then ends its programs itself, as a POSIX
// process group of their own keeps the terminal's signals from them.
bool StartProcess(const std::string& command_line, const StandardHandles& handles, HANDLE& job,
                  PROCESS_INFORMATION& started, bool own_group = false);

// A new job object whose programs all end when its last handle is closed (this process
// ending closes it); null when none can be made.
HANDLE NewKillOnCloseJob();

// A program's exit code as the seam reports it: -1 for one that ended by an exception or
// was killed (the NTSTATUS range from 0xC0000000).
int ExitCodeOf(HANDLE process);

// The exit code a program killed by this program ends with.
inline constexpr UINT kKilledExitCode = 0xC000013A;  // STATUS_CONTROL_C_EXIT

}  // namespace zqr::platform::win32
