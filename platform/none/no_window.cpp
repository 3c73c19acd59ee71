// The window entry points of a build without a window backend: nothing can be shown,
// so the program runs its window-less paths only.
#include "platform/window.h"

namespace zqr::platform {

bool WindowBackendAvailable() {
  return false;
}
bool DesktopSize(int*, int*) {
  return false;
}
void ShowStartupMessage(const std::string&, const std::string&, int) {}
bool RunMainWindow(const MainWindowSpec&) {
  return false;
}
void SetAboutTexts(const AboutTexts&) {}
void ShowTitleWindow(const AboutTexts&) {}
std::vector<LiveControl> LiveControls() {
  return {};
}
bool LiveMenuChecked(int) {
  return false;
}

}  // namespace zqr::platform
