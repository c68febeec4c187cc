#include "uiengine/folder_listing.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "common/strings.h"
#include "platform/desktop.h"

namespace kx::uiengine {

namespace fs = std::filesystem;

namespace {

// Names are UTF-8 on this platform, whatever the process locale says.
std::wstring wide(const fs::path& path) { return fromUtf8(path.string()); }

}  // namespace

Value listFolder(const std::wstring& path) {
  std::error_code error;
  fs::path folder = path.empty() ? platform::homeFolder() : fs::path(toUtf8(path));
  folder = fs::weakly_canonical(fs::absolute(folder, error), error);
  if (error || !fs::is_directory(folder, error))
    throw std::runtime_error("not a folder: " + toUtf8(path));
  std::vector<std::pair<std::wstring, bool>> found;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
  if (error) throw std::runtime_error("cannot read folder " + folder.string() + ": " + error.message());
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) break;
    std::error_code typeError;
    found.emplace_back(wide(it->path().filename()), it->is_directory(typeError));
  }
  std::sort(found.begin(), found.end());
  Value::Array entries;
  for (auto& [name, isFolder] : found)
    entries.push_back(Value::object({{L"name", Value::string(std::move(name))}, {L"folder", Value::boolean(isFolder)}}));
  const fs::path parent = folder.parent_path();
  return Value::object({{L"path", Value::string(wide(folder))},
                        {L"parent", Value::string(parent == folder ? std::wstring() : wide(parent))},
                        {L"entries", Value::array(std::move(entries))}});
}

}  // namespace kx::uiengine
