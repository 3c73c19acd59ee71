// The connections the windowed start makes before the main window runs: the commands'
// hooks into the loader, the conversion, the clean-up and the desktop, and the preview
// display's hooks into the video source.
#include "app/startup_window.h"

#include "app/commands.h"
#include "app/output_file.h"
#include "app/preview.h"
#include "app/startup.h"
#include "app/window_observer.h"
#include "convert/temp_files.h"
#include "core/run_log.h"
#include "core/shell_state.h"
#include "platform/process.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "video/load.h"

namespace zqr {

platform::AboutTexts MakerTexts() {
  platform::AboutTexts texts;
  texts.program_name = kProgramName;
  texts.build_text = kBuildText;
  texts.maker_line = "Kavelund ZQR project";
  texts.rights_line =
      "Free software under the GNU GPL, version 3 or later. Red/cyan anaglyph 3D from any video.";
  texts.web_address = "https://kavelund-zqr.example.org";
  texts.mail_address = "zqr@kavelund-zqr.example.org";
  return texts;
}

void ConnectWindowCommands() {
  CommandHooks hooks;
  hooks.sleep = [](int ms) { platform::SleepMs(ms); };
  // The desktop's opener may take its time: it runs on its own thread, so the window
  // never waits for a browser or a viewer. When nothing opens the document, the user is
  // told where it is.
  hooks.open_document = [](const std::string& target) {
    platform::StartDetachedThread([target] {
      if (platform::OpenWithDesktop(target)) return;
      LogLine("Could not open " + target);
      platform::CurrentUi().ShowMessage(
          "The manual could not be opened:\r\n" + target + "\r\nPlease open it with a PDF viewer.",
          "Help", platform::kMbIconWarning);
    });
  };
  // At exit the process may end before the clean-up thread's second pass; the sound's
  // leftovers go at once.
  hooks.clean_temp_files = [] {
    DeleteSoundLeftovers(Shell.TempFolder);
    StartCleanTempFiles(0);
  };
  // A chosen file plays from the start: Play/Pause's next press pauses it.
  hooks.get_multiple_files = [] {
    GetMultipleFiles(Shell.VideoFolder, 0, WindowObserver(), [] { Commands.Paused = 0; });
  };
  hooks.load_given_file = [](const std::string& path) { OpenGivenFile(path, WindowObserver()); };
  hooks.choose_output_file = [] { ChooseOutputFile(Shell.VideoFolder, 0); };
  SetCommandHooks(std::move(hooks));
  ConnectPreview();
}

}  // namespace zqr
