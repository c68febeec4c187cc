#pragma once
// Desktop shortcuts: the link writer, the all-users desktop, the map
// shortcut with its downloaded icon, and the editor's versioned shortcut.

#include <functional>
#include <string>

namespace kx {

// Writes one .lnk file (icon index 0). False when `target` or `linkPath` is
// empty or the link cannot be written; an existing link is replaced.
bool CreateShortcut(const std::wstring& target, const std::wstring& linkPath, const std::wstring& description,
                    const std::wstring& arguments, const std::wstring& iconPath);

// The desktop shared by all users, without a trailing separator.
std::wstring GetCommonDesktopFolder();

// GetCommonDesktopFolder() + separator + `name` + ".lnk".
std::wstring desktopLinkPath(const std::wstring& name);

// The editor's shortcut for a package: "Kestrix编辑器 <version>" ("1.0" for
// an empty version), in flavour kestrixna "Lumlum Editor", on the common desktop.
std::wstring editorShortcutPath(const std::string& bigVersion);

// Downloads the map icon and converts it to `folder`/temp/ico/<mapId>.ico.
// The image-service query ("?fop=imageView/0/w/99999/f/png", "&..." when the
// URL has a query already) is appended to `mapIconUrl` itself, so every call
// appends it once more. Returns the icon path, or empty when the download or
// the conversion fails (or `mapId` is not a plain file name).
std::wstring MakeShortcutIcon(const std::wstring& folder, const std::wstring& mapId, std::wstring& mapIconUrl);

// The map shortcut: nothing when `mapId` is empty. Target `folder`/Platform.exe
// in flavour qv, `folder`/Launcher.exe otherwise; arguments from `launchLink`
// (asked again for every try); icon from MakeShortcutIcon when `mapIconUrl`
// is set. Tries the link name `mapDisplayName`, then that name without
// \ / : * ? " < > |, then `mapId`.
void CreateMapShortcut(const std::wstring& folder, const std::wstring& mapId, const std::wstring& mapDisplayName,
                       std::wstring& mapIconUrl, const std::function<std::wstring()>& launchLink);

}  // namespace kx
