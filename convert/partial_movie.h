// A movie is encoded under a name of its own beside its output and takes the output's name
// only once it is complete. An existing file of that name (the input itself, through a
// link or another spelling of its path) is never lost to a failed, stopped or interrupted
// run, and a run that does not finish leaves no part of a movie behind.
#pragma once

#include <string>

#include "platform/files.h"

namespace zqr {

class PartialMovie {
 public:
  PartialMovie() = default;
  ~PartialMovie();  // removes a partial movie not committed
  PartialMovie(const PartialMovie&) = delete;
  PartialMovie& operator=(const PartialMovie&) = delete;

  // Creates a new empty file in `output`'s folder to encode into: ".zqrstereo-<pid>-<n>"
  // with the output's extension (the encoder chooses its container by the extension), held
  // locked while this object has it. False when none can be made there.
  bool Reserve(const std::string& output);
  const std::string& path() const { return path_; }
  // The finished movie takes the output's name (replacing a file of that name). When it
  // cannot, `problem` (when given) says why.
  bool Commit(std::string* problem = nullptr);
  // Removes the partial movie, also from where its folder has been moved to, and what the
  // encoder made of its name in a folder put in the old one's place.
  void Discard();
  // Whether the partial movie is still where it was made: false once its folder has been
  // renamed, replaced or removed (it could not take the output's name then).
  bool InPlace() const;

 private:
  std::string output_;
  std::string path_;
  std::string folder_;
  std::string folder_identity_;
  platform::HeldFile held_;
};

// Removes from `folder` the partial movies of runs that were killed: the names Reserve
// gives, of processes that no longer live, held by no one. Returns how many went.
int RemoveDeadPartialMovies(const std::string& folder);

}  // namespace zqr
