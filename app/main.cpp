// zqrstereo: the program's entry.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/startup.h"
#include "platform/system.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("%s %s\nusage: zqrstereo            open the window\n", zqr::kProgramName,
                  zqr::kBuildText);
      return 0;
    }
  }
  zqr::StartShell(zqr::platform::ExecutablePath());
  return 0;
}
