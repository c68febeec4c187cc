#pragma once
// Where this platform keeps what Windows keeps in the user's profile and in
// machine-wide places. Each is read from the environment on every call, so a
// test (or a child process it starts) redirects all of them to a scratch folder.

#include <filesystem>
#include <string>

namespace kx::platform {

// $XDG_CONFIG_HOME, else $HOME/.config.
std::filesystem::path userConfigFolder();

// $XDG_DATA_HOME, else $HOME/.local/share.
std::filesystem::path userDataFolder();

// $KX_MACHINE_ROOT, else /var/lib/kestrix: the stand-in for machine-wide
// places that only an administrator (root) may change.
std::filesystem::path machineFolder();

// The desktop shared by all users: the folder "Desktop" in the machine folder.
// Created when missing and the rights allow, as it always exists on Windows.
// No trailing separator.
std::wstring commonDesktopFolder();

// Where a person's programs usually go ("C:\Program Files" on Windows): here
// the home folder, which the user may write. No trailing separator.
std::wstring applicationsFolder();

// The application data shared by all users (Windows keeps it in ProgramData):
// the folder "ProgramData" in the machine folder. Created when missing and
// the rights allow; programs that write there cope with a folder they cannot
// write to, as on Windows under a restrictive policy.
std::filesystem::path commonAppDataFolder();

}  // namespace kx::platform
