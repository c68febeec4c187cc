#include "platform/current_directory.h"

#include <unistd.h>

#include <climits>

#include "platform/codepage.h"

namespace kx::platform {

std::wstring currentDirectory() {
  char buffer[PATH_MAX];
  return getcwd(buffer, sizeof buffer) ? fileSystemToWide(buffer) : std::wstring();
}

bool setCurrentDirectory(const std::wstring& folder) {
  return chdir(wideToFileSystem(folder).c_str()) == 0;
}

}  // namespace kx::platform
