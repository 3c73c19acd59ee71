// The words a message uses for a failed file operation. Both system backends report their
// failures as errno values (the Windows one maps its error codes onto them), so one table
// serves both.
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/files.h"

namespace zqr::platform {

std::string FileErrorText(int error_number) {
  switch (error_number) {
    case EROFS:
      return "read-only file system";
    case EACCES:
    case EPERM:
      return "permission denied";
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return "no space left on the disk";
    case ENOENT:
      return "no such folder";
    case ENOTDIR:
      return "a part of the path is not a folder";
    case EEXIST:
      return "the name is taken";
    case EBUSY:
      return "the file is in use";
    default: {
      std::string text = std::strerror(error_number);
      if (!text.empty()) text.front() = static_cast<char>(std::tolower(text.front()));
      return text;
    }
  }
}

}  // namespace zqr::platform
