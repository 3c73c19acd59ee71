// The main window's behaviour: the window procedure's handlers of commands, slider moves,
// hover and the close request, the exit sequence, the load thread and the busy switch.
// Every backend (the wx window, the headless model of tests and batch runs) reports the
// user's actions to these handlers on its GUI thread.
#pragma once

#include <array>
#include <functional>
#include <string>

#include "core/shared_value.h"
#include "platform/window_model.h"

namespace zqr {

// Flags of the commands themselves; StopRequested (convert/convert_state.h) and
// VideoLoaded (video/load.h) belong to the subsystems that clear and set them.
struct CommandFlags {
  Shared32 Paused{0};
  Shared32 ExitGuard{0};
  // 1 when the window was closed during a conversion: it closes once that has stopped.
  Shared32 CloseAfterConversion{0};
  std::array<Shared32, 7> Hover{};  // one per picture button, in kPictureButtons order
};
extern CommandFlags Commands;

// What the commands start in other subsystems, connected by start-up (tests connect
// their own). Unset entries do nothing.
struct CommandHooks {
  // The loader on the load thread: open dialog, probe, load and play.
  std::function<void()> get_multiple_files;
  // The same loader for a file named before any dialog (on the command line).
  std::function<void(const std::string& path)> load_given_file;
  // The output dialog that runs the conversion; returns when it is over or cancelled.
  std::function<void()> choose_output_file;
  // The command's plain waits (tests shorten them).
  std::function<void(int milliseconds)> sleep;
  // Opens a document or address with the desktop's default program.
  std::function<void(const std::string& target)> open_document;
  // Starts the temporary-file clean-up worker (argument 0).
  std::function<void()> clean_temp_files;
};
void SetCommandHooks(CommandHooks hooks);
CommandHooks CurrentCommandHooks();

// The exit question's second line while a conversion runs.
inline constexpr const char* kCloseStopsConversionText =
    "The conversion in progress will be stopped and its movie will not be written.";

// The window procedure's handlers.
void HandleCommand(int id, int code);
void HandleSlider(int id, int position);
bool HandleHover(int id);
bool HandleCloseRequest();

// The handlers as the backends take them.
platform::WindowEvents MainWindowEvents();

// SetBusyUi: 0 disables Load, Save, Convert and Play/Pause and greys their menu items
// (and the temporary path's) and enables Stop; 1 enables them again and disables Stop.
void SetBusyUi(int enabled);

// The exit sequence: save when asked to and a video was loaded, stop the play loop and
// wait for it, start one more clean-up. Runs once at a time.
void ShutDown();

// The body of the load thread started by the Load command.
void LoadThread();
// Loads and plays `path` on a load thread as if the Load command's dialog had answered it
// (the file given when the program was started).
void LoadGivenFile(const std::string& path);
// Load threads started and not yet ended; the program waits for them before it ends.
int LoadThreadsRunning();

// The folder browser, owned by the main window, opened at `current`; the chosen folder
// without trailing separators, or empty text for Cancel.
std::string PickFolder(const std::string& current);

// Plays an embedded sound without waiting. TickSound is the click of the commands.
void PlayResourceSound(const std::string& name, const std::string& type);
void TickSound();

// The main window's help document: executable's folder and name + ".pdf", or the
// installed manual (Shell.HelpDocument).
std::string HelpDocumentPath();

}  // namespace zqr
