#include "platform/desktop.h"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <system_error>

#include "platform/codepage.h"
#include "platform/subprocess.h"

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

bool openInBrowser(const std::wstring& url) {
  const auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
  std::wstring scheme;
  for (wchar_t c : url.substr(0, url.find(L':'))) scheme += lower(c);
  const bool web = (scheme == L"http" || scheme == L"https") && url.compare(scheme.size(), 3, L"://") == 0 &&
                   url.size() > scheme.size() + 3;
  const bool printable = std::all_of(url.begin(), url.end(), [](wchar_t c) { return c > L' ' && c != 0x7F; });
  if (!web || !printable) return false;
  const Subprocess::Options options{.output = Subprocess::Output::Discard, .lifetime = Subprocess::Lifetime::Detached};
  return Subprocess::start(L"xdg-open", ArgumentList{wideToFileSystem(url)}, options) != nullptr;
}

bool isSuperUser() { return geteuid() == 0; }

std::filesystem::path createPrivateTempFolder(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp");
  return pattern;
}

}  // namespace kx::platform
