#include "platform/path_case.h"

#include <filesystem>

#include "common/strings.h"
#include "platform/codepage.h"

namespace kx::platform {

std::optional<std::wstring> findIgnoringCase(const std::wstring& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path wanted = fs::path(wideToFileSystem(path)).lexically_normal();
  if (fs::exists(wanted, ec)) return path;
  fs::path found = wanted.root_path();
  for (const auto& part : wanted.relative_path()) {
    if (part.empty()) continue;
    fs::path next = found / part;
    if (!fs::exists(next, ec)) {
      const fs::path folder = found.empty() ? fs::path(".") : found;
      const std::string lowered = asciiLower(part.string());
      bool matched = false;
      for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (asciiLower(it->path().filename().string()) == lowered) {
          next = found / it->path().filename();
          matched = true;
          break;
        }
      }
      if (!matched) return std::nullopt;
    }
    found = next;
  }
  if (!fs::exists(found, ec)) return std::nullopt;
  return fileSystemToWide(found.string());
}

bool existsIgnoringCase(const std::wstring& path) { return findIgnoringCase(path).has_value(); }

}  // namespace kx::platform
