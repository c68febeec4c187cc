#pragma once
// What the installer records in the registry: where the editor lives, the
// Run values that start the editor or the platform with the system, the
// editor's URL scheme, and the lookup of an installed platform. Without
// administrator rights the HKLM and HKCR writes fail, as they do for an
// unelevated Windows process; the writers say so (for the installation's
// log) and nothing more happens.

#include <string>

namespace kx {

// HKCR\<scheme> (default) = description, "URL Protocol" = exePath,
// HKCR\<scheme>\DefaultIcon (default) = exePath,
// HKCR\<scheme>\shell\open\command (default) = exePath "%1". False when a value could not be written.
bool RegisterUrlProtocol(const std::wstring& scheme, const std::wstring& description, const std::wstring& exePath);

// Values of HKLM\SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\Run;
// false when the value could not be set, or is still there.
bool SetAutoRunValue(const std::wstring& valueName, const std::wstring& command);
bool DeleteAutoRunValue(const std::wstring& valueName);

// HKCU\SOFTWARE\Marrowin\KestrixEditor\<version> (version read as code page
// 936, taken as stored even when empty): EditorPath = installFolder, then,
// only when that worked, UpdateTime = seconds since 1970 UTC. False when
// either could not be written.
bool WriteEditorPathKey(const std::string& version, const std::wstring& installFolder);

// True, with `installFolder` set to EditorPath, when the editor exists at
// EditorPath\Games\<version>\game\Editor.exe (letter case ignored, as on
// Windows); otherwise false and `installFolder` untouched.
bool FindInstalledEditor(const std::string& version, std::wstring& installFolder);

// The folder of HKLM\SOFTWARE\WOW6432Node\...\Uninstall\<name>'s
// UninstallString (the text before its last separator; surrounding quotes
// dropped); empty when there is none.
std::wstring FindUninstallFolder(const std::wstring& name);

// Moves a file to the user's recycle bin; 0 on success.
int MoveToRecycleBin(const std::wstring& path);

// The editor's Run value name for a package: "KestrixEditor" + version
// (kestrixna: "Lumlum Editor" + version), "1.0" for an empty version.
std::wstring editorRunValueName(const std::string& bigVersion);

// The editor's URL scheme: "kestrixeditor" (kestrixna: "lumlumeditor").
std::wstring editorUrlScheme();

// The platform's Run value (bridge method lanuchPlatform): the value name is
// `name` when given, else "Lumlum Platform" when the launcher exists and
// "Lumlum Editor" when it does not.
std::wstring platformRunValueName(const std::wstring& name, bool launcherExists);
// The command: the launcher path, or, when there is a platform launch link
// (a map is known), the path in double quotes, a space and the link.
std::wstring platformRunCommand(const std::wstring& launcherPath, const std::wstring& launchLink);
// Sets the value under HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run
// (the same key as the editor's Run values) when `autoRun`, else deletes it.
void WritePlatformRunValue(bool autoRun, const std::wstring& valueName, const std::wstring& command);

}  // namespace kx
