#include "platform/special_folders.h"

#include <filesystem>

#include "platform/codepage.h"
#include "platform/locations.h"

namespace kx::platform {

std::wstring commonDesktopFolder() {
  const auto folder = machineFolder() / "Desktop";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return fileSystemToWide(folder.string());
}

}  // namespace kx::platform
