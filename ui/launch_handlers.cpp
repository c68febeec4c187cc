// What the page does with an installation that is already there: start the
// product, put shortcuts on the desktop, find an earlier installation.

#include <filesystem>
#include <system_error>

#include "common/path_text.h"
#include "flavour/flavour.h"
#include "install_manager/install_man.h"
#include "platform/codepage.h"
#include "platform/path_case.h"
#include "setup/registry_integration.h"
#include "setup/shortcuts.h"
#include "ui/main_wnd.h"
#include "ui/program_start.h"

namespace kx {

namespace {

std::wstring joined(std::wstring folder, std::initializer_list<const wchar_t*> parts) {
  for (const wchar_t* part : parts) folder = joinPath(folder, part);
  return folder;
}

// Whether anything is at `path`, its letter case ignored as Windows does; a
// failure of the test itself is thrown, named "exists".
bool existsAt(const std::wstring& path) {
  const std::filesystem::path target(platform::wideToFileSystem(path));
  std::error_code error;
  if (std::filesystem::exists(target, error)) return true;
  if (error) throw std::filesystem::filesystem_error("exists", target, error);
  return platform::existsIgnoringCase(path);
}

}  // namespace

std::wstring CMainWnd::launcherPath() const {
  return joined(installDir, {isQv ? L"Platform.exe" : L"Launcher.exe"});
}

void CMainWnd::launch(const std::wstring& exe) { ui::startProgram(exe, manager.buildLaunchArgs()); }

bool CMainWnd::lanuchPlatform(bool autoRun, bool shortcut, const std::wstring& name) {
  if (isQv) {
    launch(launcherPath());
    return true;
  }
  if (isKestrix) {
    launch(joined(installDir, {L"Games", L"2.0", L"game", L"Editor.exe"}));
    return true;
  }
  const std::wstring launcher = launcherPath();
  const bool launcherExists = existsAt(launcher);
  const std::wstring exe = launcherExists ? launcher : joined(installDir, {L"game", L"launcher.exe"});
  // The value names the launcher even when the fallback is started.
  WritePlatformRunValue(autoRun, platformRunValueName(name, launcherExists),
                        platformRunCommand(launcher, manager.buildLaunchArgs()));
  if (shortcut) CreateShortcut(exe, desktopLinkPath(name), L"", L"", L"");
  launch(exe);
  return true;
}

bool CMainWnd::closeInstaller(bool shortcut, const std::wstring& name) {
  if (shortcut) CreateShortcut(joined(installDir, {L"Launcher.exe"}), desktopLinkPath(name), L"", L"", L"");
  return true;
}

void CMainWnd::createCustomShortcut() { manager.CreateCustomShortcut(installDir); }

bool CMainWnd::isInstalled(const std::wstring& productKey) {
  const std::wstring folder = FindUninstallFolder(productKey);
  if (folder.empty()) return false;
  installDir = folder;
  return true;
}

}  // namespace kx
