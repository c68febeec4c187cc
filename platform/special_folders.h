#pragma once
// Folders the shell names on Windows, with their stand-ins here.

#include <string>

namespace kx::platform {

// The desktop shared by all users: the folder "Desktop" in the machine folder
// (platform/locations.h). Created when missing and the rights allow, as it
// always exists on Windows. No trailing separator.
std::wstring commonDesktopFolder();

}  // namespace kx::platform
