#include "platform/locations.h"

#include <cstdlib>

#include "platform/codepage.h"
#include "platform/desktop.h"

namespace kx::platform {

namespace {

std::filesystem::path fromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? std::filesystem::path(value) : std::filesystem::path();
}

}  // namespace

std::filesystem::path userConfigFolder() {
  auto folder = fromEnvironment("XDG_CONFIG_HOME");
  return folder.empty() ? homeFolder() / ".config" : folder;
}

std::filesystem::path userDataFolder() {
  auto folder = fromEnvironment("XDG_DATA_HOME");
  return folder.empty() ? homeFolder() / ".local" / "share" : folder;
}

std::filesystem::path machineFolder() {
  auto folder = fromEnvironment("KX_MACHINE_ROOT");
  return folder.empty() ? std::filesystem::path("/var/lib/kestrix") : folder;
}

std::wstring commonDesktopFolder() {
  const auto folder = machineFolder() / "Desktop";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return fileSystemToWide(folder.string());
}

std::wstring applicationsFolder() { return fileSystemToWide(homeFolder().string()); }

std::filesystem::path commonAppDataFolder() {
  const auto folder = machineFolder() / "ProgramData";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return folder;
}

}  // namespace kx::platform
