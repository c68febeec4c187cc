#pragma once
// Facts of the user's session that decide how a window can be shown.

#include <filesystem>
#include <string>

namespace kx::platform {

// True when a graphical display is reachable (X11 or Wayland).
bool hasDisplay();

// The user's home folder; "/" when unknown.
std::filesystem::path homeFolder();

// Opens a web page in the person's browser, detached from the installer.
// Only http and https URLs are opened: a page must not be able to start
// programs or open local files through this. False when refused or when
// nothing could be started.
bool openInBrowser(const std::wstring& url);

// True for the administrator account (some programs refuse to sandbox it).
bool isSuperUser();

// A new empty folder only this user can enter, under the temporary folder.
// Throws std::system_error when none can be made.
std::filesystem::path createPrivateTempFolder(const std::string& prefix);

}  // namespace kx::platform
