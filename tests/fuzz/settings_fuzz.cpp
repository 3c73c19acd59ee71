// The settings loader on any file: it never crashes, and what it loads survives a save and
// a second load unchanged (the program saves at exit what it loaded at start). A load that
// stops early leaves keys at their start values, and start values of 0 load back as their
// replacements, so there the saved file must be a fixed point: saved again, it loads again
// to the same values.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/run_log.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "platform/files.h"
#include "tests/fuzz/fuzz_targets.h"

namespace zqr::fuzz {

namespace {

// A folder of its own for the whole process, removed at exit (kept as a plain array so
// that it outlives every destructor).
const char* ScratchFolder() {
  static char folder[4096];
  static const bool made = [] {
    const std::string path = platform::MakeUniqueFolder(
        std::filesystem::temp_directory_path().string(), "zqr-fuzz-settings-", nullptr);
    if (path.empty() || path.size() >= sizeof folder) std::abort();
    path.copy(folder, path.size());
    std::atexit([] { std::filesystem::remove_all(folder); });
    return true;
  }();
  (void)made;
  return folder;
}

// Start-up's reading of the settings: start values, the loader, the folder rule. Returns
// the values as the settings file's text, and whether every key was read.
std::string LoadAsStartUpDoes(bool* complete) {
  ResetSettingsToStartValues();
  Shell.TempFolder = std::string(ScratchFolder()) + "/TEMP";
  Shell.VideoFolder = "/start/videos";
  *complete = LoadSettings();
  Shell.TempFolder = UsableTempFolder(Shell.TempFolder);
  return SettingsFileText(Settings, Shell.TempFolder, Shell.VideoFolder);
}

}  // namespace

int SettingsLoader(const uint8_t* data, size_t size) {
  SetProgramLocation(std::string(ScratchFolder()) + "/zqrstereo");
  SetLogFile("");
  {
    std::ofstream file(Shell.SettingsFile, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  bool complete = false;
  const std::string first = LoadAsStartUpDoes(&complete);
  ZQR_FUZZ_CHECK(SaveSettings());
  bool saved_complete = false;
  const std::string second = LoadAsStartUpDoes(&saved_complete);
  ZQR_FUZZ_CHECK(saved_complete);
  if (complete) {
    ZQR_FUZZ_CHECK(first == second);
  } else {
    ZQR_FUZZ_CHECK(SaveSettings());
    ZQR_FUZZ_CHECK(LoadAsStartUpDoes(&saved_complete) == second);
  }
  return 0;
}

}  // namespace zqr::fuzz
