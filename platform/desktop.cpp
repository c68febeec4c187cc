#include "platform/desktop.h"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace kx::platform {

namespace {

bool isSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

}  // namespace

bool hasDisplay() { return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY"); }

std::filesystem::path homeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home == '/') return home;
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir && *entry->pw_dir == '/') return entry->pw_dir;
  return "/";
}

bool isSuperUser() { return geteuid() == 0; }

std::filesystem::path createPrivateTempFolder(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp");
  return pattern;
}

}  // namespace kx::platform
