// Partial movies: reserved with an exclusive create, renamed into place when complete.
#include "convert/partial_movie.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "platform/files.h"
#include "platform/path.h"
#include "platform/system.h"

namespace zqr {

namespace {
std::atomic<int> reservations{0};

std::string ExtensionOf(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  const size_t separator = path.find_last_of(platform::kPathSeparators);
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return "";
  return path.substr(dot);
}
}  // namespace

PartialMovie::~PartialMovie() {
  Discard();
}

bool PartialMovie::Reserve(const std::string& output) {
  Discard();
  const std::filesystem::path parent = platform::PathOf(output).parent_path();
  const std::string folder =
      parent.empty() ? platform::CurrentDirectory() : platform::PathText(parent);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate =
        folder + platform::kPathSeparator + ".zqrstereo-" + std::to_string(platform::ProcessId()) +
        "-" + std::to_string(reservations.fetch_add(1) + 1) + ExtensionOf(output);
    if (held_.CreateNew(candidate)) {
      output_ = output;
      path_ = candidate;
      folder_ = folder;
      folder_identity_ = platform::FileIdentity(folder);
      return true;
    }
  }
  return false;
}

bool PartialMovie::Commit(std::string* problem) {
  if (path_.empty()) return false;
  std::error_code error;
  std::filesystem::rename(platform::PathOf(path_), platform::PathOf(output_), error);
  if (error) {
    if (problem != nullptr) {
      *problem = "the finished movie " + path_ + " could not be renamed to " + output_ + " (" +
                 error.message() + ")";
    }
    return false;
  }
  path_.clear();
  held_.Release();
  return true;
}

void PartialMovie::Discard() {
  if (path_.empty()) return;
  if (InPlace()) {
    std::error_code error;
    std::filesystem::remove(platform::PathOf(path_), error);
    held_.Release();
  } else {
    held_.RemoveAndRelease();
    // The encoder opens the movie by its name: one started after the folder was replaced
    // made a file of that name in the new folder. The name carries this process's number,
    // so nothing but this run can have made it.
    platform::RemoveIfUnheld(path_);
  }
  path_.clear();
}

// By the folder: the movie itself may be replaced by a copy made of it (cut or marked).
bool PartialMovie::InPlace() const {
  std::error_code error;
  return !path_.empty() && platform::FileIdentity(folder_) == folder_identity_ &&
         std::filesystem::is_regular_file(platform::PathOf(path_), error);
}

namespace {
// The process number in ".zqrstereo-<pid>-<n>" or ".zqrstereo-<pid>-<n>.<ext>"; 0 for any
// other name.
int64_t PartialMovieProcess(std::string_view name) {
  constexpr std::string_view kPrefix = ".zqrstereo-";
  if (!name.starts_with(kPrefix)) return 0;
  name.remove_prefix(kPrefix.size());
  const size_t dash = name.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > 9) return 0;
  const std::string_view pid = name.substr(0, dash);
  std::string_view rest = name.substr(dash + 1);
  const size_t dot = rest.find('.');
  const std::string_view count = rest.substr(0, dot);
  auto digits = [](std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!digits(pid) || !digits(count)) return 0;
  if (dot != std::string_view::npos && rest.substr(dot + 1).find('.') != std::string_view::npos) {
    return 0;
  }
  return std::stoll(std::string(pid));
}
}  // namespace

int RemoveDeadPartialMovies(const std::string& folder) {
  int removed = 0;
  std::error_code error;
  for (std::filesystem::directory_iterator it(platform::PathOf(folder), error), end;
       !error && it != end; it.increment(error)) {
    const int64_t pid = PartialMovieProcess(platform::PathText(it->path().filename()));
    // A live run holds its partial movie; the process number spares the instant between its
    // making and its lock, and a run on another machine sharing the folder holds its lock.
    if (pid == 0 || platform::ProcessAlive(pid)) continue;
    if (platform::RemoveIfUnheld(platform::PathText(it->path()))) ++removed;
  }
  return removed;
}

}  // namespace zqr
