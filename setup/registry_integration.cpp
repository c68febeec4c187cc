#include "setup/registry_integration.h"

#include <chrono>
#include <filesystem>

#include "common/strings.h"
#include "flavour/flavour.h"
#include "platform/codepage.h"
#include "platform/path_case.h"
#include "platform/registry.h"
#include "platform/trash.h"

namespace kx {

namespace {

using platform::RegistryKey;
using platform::RegistryResult;
using platform::RegistryRoot;

constexpr std::wstring_view kEditorKey = L"SOFTWARE\\Marrowin\\KestrixEditor\\";
constexpr std::wstring_view kAutoRunKey = L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::wstring_view kPlatformRunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::wstring_view kUninstallKey = L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr std::size_t kValueBufferBytes = 4096;

bool isKestrixNa() { return flavourNameIs(productFlavour, "kestrixna"); }

std::wstring versionOrDefault(const std::string& version) {
  return version.empty() ? std::wstring(L"1.0") : fromUtf8(version);
}

std::wstring editorKey(const std::string& version) {
  return std::wstring(kEditorKey) + platform::cp936ToWide(version);
}

// Sets or deletes one value of a Run key, doing nothing when it cannot be opened.
void changeRunValue(std::wstring_view key, const std::wstring& valueName, const std::wstring* command) {
  RegistryKey run;
  if (RegistryKey::open(RegistryRoot::LocalMachine, key, platform::kKeyAllAccess, run) != RegistryResult::Ok) return;
  if (command)
    run.setString(valueName, *command);
  else
    run.deleteValue(valueName);
}

}  // namespace

void RegisterUrlProtocol(const std::wstring& scheme, const std::wstring& description, const std::wstring& exePath) {
  const struct {
    const wchar_t* suffix;
    const wchar_t* name;
    std::wstring data;
  } rows[] = {
      {L"", L"", description},
      {L"", L"URL Protocol", exePath},
      {L"\\DefaultIcon", L"", exePath},
      {L"\\shell\\open\\command", L"", exePath + L" \"%1\""},
  };
  for (const auto& row : rows) platform::setRegistryString(RegistryRoot::ClassesRoot, scheme + row.suffix, row.name, row.data);
}

void SetAutoRunValue(const std::wstring& valueName, const std::wstring& command) {
  changeRunValue(kAutoRunKey, valueName, &command);
}

void DeleteAutoRunValue(const std::wstring& valueName) { changeRunValue(kAutoRunKey, valueName, nullptr); }

void WriteEditorPathKey(const std::string& version, const std::wstring& installFolder) {
  RegistryKey key;
  const std::wstring path = editorKey(version);
  if (RegistryKey::open(RegistryRoot::CurrentUser, path, platform::kKeyAllAccess, key) != RegistryResult::Ok &&
      RegistryKey::create(RegistryRoot::CurrentUser, path, key) != RegistryResult::Ok)
    return;
  if (key.setString(L"EditorPath", installFolder) != RegistryResult::Ok) return;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
  key.setString(L"UpdateTime", std::to_wstring(seconds));
}

bool FindInstalledEditor(const std::string& version, std::wstring& installFolder) {
  RegistryKey key;
  if (RegistryKey::open(RegistryRoot::CurrentUser, editorKey(version), platform::kKeyAllAccess, key) !=
      RegistryResult::Ok)
    return false;
  std::wstring editorPath;
  if (key.queryString(L"EditorPath", kValueBufferBytes, editorPath) != RegistryResult::Ok) return false;
  namespace fs = std::filesystem;
  const fs::path editor =
      fs::path(platform::wideToFileSystem(editorPath)) / "Games" / version / "game" / "Editor.exe";
  if (!platform::existsIgnoringCase(platform::fileSystemToWide(editor.string()))) return false;
  installFolder = editorPath;
  return true;
}

std::wstring FindUninstallFolder(const std::wstring& name) {
  RegistryKey key;
  if (RegistryKey::open(RegistryRoot::LocalMachine, std::wstring(kUninstallKey) + name, platform::kKeyAllAccess,
                        key) != RegistryResult::Ok)
    return {};
  std::wstring command;
  if (key.queryString(L"UninstallString", kValueBufferBytes, command) != RegistryResult::Ok) return {};
  // Setup programs often store the uninstaller's path in quotes.
  if (command.starts_with(L'"')) command = command.substr(1, command.find(L'"', 1) - 1);
  const auto separator = command.find_last_of(L"\\/");
  return separator == std::wstring::npos ? std::wstring() : command.substr(0, separator);
}

int MoveToRecycleBin(const std::wstring& path) { return platform::moveToTrash(path); }

std::wstring editorRunValueName(const std::string& bigVersion) {
  return (isKestrixNa() ? L"Lumlum Editor" : L"KestrixEditor") + versionOrDefault(bigVersion);
}

std::wstring editorUrlScheme() { return isKestrixNa() ? L"lumlumeditor" : L"kestrixeditor"; }

std::wstring platformRunValueName(const std::wstring& name, bool launcherExists) {
  if (!name.empty()) return name;
  return launcherExists ? L"Lumlum Platform" : L"Lumlum Editor";
}

std::wstring platformRunCommand(const std::wstring& launcherPath, const std::wstring& launchLink) {
  return launchLink.empty() ? launcherPath : L"\"" + launcherPath + L"\" " + launchLink;
}

void WritePlatformRunValue(bool autoRun, const std::wstring& valueName, const std::wstring& command) {
  changeRunValue(kPlatformRunKey, valueName, autoRun ? &command : nullptr);
}

}  // namespace kx
