// The working files of a conversion in TempFolder (numbered frame files and the sound
// file) and the clean-up that removes them before and after every conversion.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace zqr {

// TempFolder + separator + "temp%06d.bmp": frame files temp000000.bmp, temp000001.bmp, ...
std::string FramePattern(const std::string& temp_folder);
// TempFolder + separator + "temp.wav".
std::string SoundFile(const std::string& temp_folder);
// The named pipe through which a running encoder reads the sound file while it is written
// (in TempFolder where pipes are files, in the system's pipe namespace on Windows).
std::string SoundPipeFile(const std::string& temp_folder);
// The messages of the sound extraction, beside its sound file.
std::string SoundMessagesFile(const std::string& temp_folder);

// Removes the sound pipe and the sound extraction's messages that a conversion cut short
// may leave, unless a conversion holds the folder now. False when one does.
bool DeleteSoundLeftovers(const std::string& folder);

// Whether a file name is one the program writes into the temporary folder: "temp" and six
// or more digits and ".bmp" (a frame file), or "temp.wav" (the sound file). The user may
// point the temporary folder at any folder, so the clean-up deletes nothing else.
bool IsFrameFileName(std::string_view name);
bool IsSoundFileName(std::string_view name);

// Thread body: deletes the frame files, waits half a second, deletes them again, then the
// sound file. Every failure is ignored. keep_avi chose whether AVI files went too; the
// program writes none into the folder, so an AVI file there is the user's and stays.
void CleanTempFiles(int32_t keep_avi);
// The same for a given folder, on the calling thread.
void CleanTempFolder(const std::string& folder, int32_t keep_avi);
// One pass over the folder, for a caller that knows no frame-file writer is running (the
// conversion driver, which has waited for its writers): the second pass would find nothing.
void DeleteWorkFiles(const std::string& folder);

// The first entry of `folder` that bears a work file's name (a frame file, the sound file,
// the tools' messages) but is no plain file (a link, a folder): a conversion there would
// write or delete through it. Empty when there is none.
std::string ForeignWorkFileEntry(const std::string& folder);

// Batch runs record into folders of their own inside the temporary folder, named with this
// prefix and six letters or digits, held locked while the run lives and marked as the
// program's when made.
inline constexpr const char* kRunFolderPrefix = "run-";
inline constexpr const char* kRunFolderMarkName = ".zqrstereo-run";
// Makes a run folder in `base`, locked by `lock` and marked; its path, or empty text with
// the error number in `error`.
std::string MakeRunFolder(const std::string& base, platform::FolderLock& lock, int* error);
// Whether `folder` carries the mark MakeRunFolder gave it (the mark names the folder's own
// identity, so a copy of a run folder is not taken for one).
bool IsMarkedRunFolder(const std::string& folder);
// A run folder whose work files are kept for the user: unmarked, so no sweep ever takes it.
void KeepRunFolder(const std::string& folder);
// Removes the run folders in `base` that the program made and no live run holds (left by
// runs that were killed or crashed); a folder the user made, or one kept with the work
// files, is never touched, however old. Returns how many went.
int RemoveStaleRunFolders(const std::string& base);
// Removes the run folder `folder` whose lock `lock` holds, and releases the lock; false when
// something stayed.
bool RemoveLockedRunFolder(const std::string& folder, platform::FolderLock& lock);
// Whether `folder` holds a frame file or the sound file.
bool HoldsWorkFiles(const std::string& folder);

// Starts CleanTempFiles on a detached 1 MiB thread; nobody waits for it.
bool StartCleanTempFiles(int32_t keep_avi);

}  // namespace zqr
