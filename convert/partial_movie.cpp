// Partial movies: reserved with an exclusive create, renamed into place when complete.
#include "convert/partial_movie.h"

#include <atomic>
#include <filesystem>
#include <system_error>

#include "platform/files.h"
#include "platform/system.h"

namespace zqr {

namespace {
std::atomic<int> reservations{0};

std::string ExtensionOf(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  const size_t separator = path.find_last_of(platform::kPathSeparator);
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return "";
  return path.substr(dot);
}
}  // namespace

PartialMovie::~PartialMovie() {
  Discard();
}

bool PartialMovie::Reserve(const std::string& output) {
  Discard();
  const std::filesystem::path parent = std::filesystem::path(output).parent_path();
  const std::string folder = parent.empty() ? platform::CurrentDirectory() : parent.string();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate =
        folder + platform::kPathSeparator + ".zqrstereo-" + std::to_string(platform::ProcessId()) +
        "-" + std::to_string(reservations.fetch_add(1) + 1) + ExtensionOf(output);
    if (platform::CreateNewFile(candidate)) {
      output_ = output;
      path_ = candidate;
      return true;
    }
  }
  return false;
}

bool PartialMovie::Commit(std::string* problem) {
  if (path_.empty()) return false;
  std::error_code error;
  std::filesystem::rename(path_, output_, error);
  if (error) {
    if (problem != nullptr) {
      *problem = "the finished movie " + path_ + " could not be renamed to " + output_ + " (" +
                 error.message() + ")";
    }
    return false;
  }
  path_.clear();
  return true;
}

void PartialMovie::Discard() {
  if (path_.empty()) return;
  std::error_code error;
  std::filesystem::remove(path_, error);
  path_.clear();
}

}  // namespace zqr
