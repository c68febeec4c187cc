#include "platform/rename.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/codepage.h"

namespace kx::platform {

RenameResult renameWithoutReplacing(const std::wstring& from, const std::wstring& to) {
  const std::string source = wideToFileSystem(from);
  const std::string target = wideToFileSystem(to);
  // A check for the name followed by a rename could still replace a file that
  // appeared in between; the kernel checks and renames at once.
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return RenameResult::Ok;
  if (errno == EEXIST) return RenameResult::NameTaken;
  if (errno != EINVAL) return RenameResult::Failed;
  // File systems without that check: the short gap between check and rename is the best they allow.
  struct stat info {};
  if (::lstat(target.c_str(), &info) == 0) return RenameResult::NameTaken;
  return ::rename(source.c_str(), target.c_str()) == 0 ? RenameResult::Ok : RenameResult::Failed;
}

}  // namespace kx::platform
