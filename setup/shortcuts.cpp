#include "setup/shortcuts.h"

#include <exception>
#include <filesystem>
#include <optional>

#include "common/path_text.h"
#include "common/strings.h"
#include "flavour/flavour.h"
#include "platform/atomic_file.h"
#include "platform/codepage.h"
#include "platform/locations.h"
#include "platform/shell_link.h"
#include "setup/icon_download.h"
#include "setup/ico_image.h"

namespace kx {

namespace {

namespace fs = std::filesystem;

constexpr std::wstring_view kImageQuery = L"fop=imageView/0/w/99999/f/png";
constexpr std::wstring_view kIllegalInNames = L"\\/:*?\"<>|";

std::string readFile(const fs::path& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return {};
  std::string data;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) data.append(buffer, n);
  std::fclose(file);
  return data;
}

std::wstring withoutIllegalCharacters(std::wstring name) {
  for (wchar_t c : kIllegalInNames) std::erase(name, c);
  return name;
}

}  // namespace

bool CreateShortcut(const std::wstring& target, const std::wstring& linkPath, const std::wstring& description,
                    const std::wstring& arguments, const std::wstring& iconPath) {
  return platform::writeShellLink(linkPath, {target, description, arguments, iconPath, 0});
}

std::wstring GetCommonDesktopFolder() { return platform::commonDesktopFolder(); }

std::wstring desktopLinkPath(const std::wstring& name) { return joinPath(GetCommonDesktopFolder(), name + L".lnk"); }

std::wstring editorShortcutPath(const std::string& bigVersion) {
  if (flavourNameIs(productFlavour, "kestrixna")) return desktopLinkPath(L"Lumlum Editor");
  return desktopLinkPath(L"Kestrix编辑器 " + (bigVersion.empty() ? std::wstring(L"1.0") : fromUtf8(bigVersion)));
}

std::wstring MakeShortcutIcon(const std::wstring& folder, const std::wstring& mapId, std::wstring& mapIconUrl) {
  // The id names a file: one from the map service that is not a plain name gets no icon.
  if (!platform::isPortableFileName(mapId)) return {};
  const fs::path icon = fs::path(platform::wideToFileSystem(folder)) / "temp" / "ico" /
                        platform::wideToFileSystem(mapId + L".ico");
  std::error_code ec;
  fs::remove(icon, ec);
  fs::create_directories(icon.parent_path(), ec);

  mapIconUrl += mapIconUrl.find(L'?') == std::wstring::npos ? L'?' : L'&';
  mapIconUrl += kImageQuery;

  std::optional<std::string> ico;
  try {
    if (downloadIcon(toUtf8(mapIconUrl), icon)) ico = pngToIco(readFile(icon));
  } catch (const std::exception&) {
    // Whatever goes wrong with a decoration leaves the shortcut without it.
  }
  if (!ico || !platform::writeFileAtomically(icon, *ico)) {
    fs::remove(icon, ec);  // no half-downloaded page posing as an icon
    return {};
  }
  return platform::fileSystemToWide(icon.string());
}

void CreateMapShortcut(const std::wstring& folder, const std::wstring& mapId, const std::wstring& mapDisplayName,
                       std::wstring& mapIconUrl, const std::function<std::wstring()>& launchLink) {
  if (mapId.empty()) return;
  const std::wstring target = joinPath(folder, isQv ? L"Platform.exe" : L"Launcher.exe");
  const std::wstring icon = mapIconUrl.empty() ? std::wstring() : MakeShortcutIcon(folder, mapId, mapIconUrl);
  // A name is one file name on the desktop, never a path into or out of it.
  const auto tryName = [&](const std::wstring& name) {
    return platform::isPortableFileName(name) && CreateShortcut(target, desktopLinkPath(name), L"", launchLink(), icon);
  };
  if (tryName(mapDisplayName)) return;
  if (tryName(withoutIllegalCharacters(mapDisplayName))) return;
  tryName(mapId);
}

}  // namespace kx
