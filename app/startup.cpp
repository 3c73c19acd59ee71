#include "app/startup.h"

#include "app/numbers.h"
#include "app/run_log.h"
#include "app/settings.h"
#include "app/shell_state.h"
#include "platform/system.h"

namespace zqr {

std::string ScreenCheckMessage(int32_t width, int32_t height) {
  if (height >= kMinScreenHeight) return std::string();
  return "Current Screen resolution: " + NumberText(width) + "x" + NumberText(height) +
         " pixels.\r\n" + kProgramName +
         " require Screen resolution with height >= 768 pixels.\r\n"
         "Please change the Screen resolution. The programm cannot be run.";
}

void StartShell(const std::string& executable_path) {
  SetProgramLocation(executable_path);
  StartRunLog();
}

}  // namespace zqr
