// Window set-up before the window is shown: the page's language and map
// background, then what an earlier installation means for this start.

#include "common/path_text.h"
#include "flavour/flavour.h"
#include "install_manager/install_man.h"
#include "platform/ini_file.h"
#include "platform/path_case.h"
#include "setup/registry_integration.h"
#include "setup/shortcuts.h"
#include "ui/main_wnd.h"
#include "ui/program_start.h"

namespace kx {

using uiengine::Value;

namespace {

// The name under which the flavour's platform registers its uninstaller; also
// the name of the desktop shortcut made when an installed platform is started.
std::wstring productKey() {
  if (isEdu) return L"Lumlum Platform Edu";
  if (isProd) return L"Emberhold";
  if (isKestrixUat) return L"Emberhold预览版";
  if (isQv) return L"zzarenahq";
  if (isProdNa || isProdNaUat) return L"Lumlum Platform";
  return L"";
}

// At start-up a path that cannot be examined counts as absent: there is
// nobody to report the error to, and the person can still install.
bool presentAt(const std::wstring& path) { return !path.empty() && platform::existsIgnoringCase(path); }

// The qv editor: in the platform's games folder, or wherever the platform's
// settings say it is.
bool qvEditorPresent(const std::wstring& installDir) {
  if (presentAt(joinPath(joinPath(joinPath(joinPath(installDir, L"Games"), L"Kestrix"), L"game"), L"Editor.exe")))
    return true;
  const std::wstring settings = joinPath(joinPath(joinPath(installDir, L"config"), L"custom"), L"platform.ini");
  return presentAt(platform::readIniString(settings, L"KestrixGame", L"ExePath", L"", 260));
}

}  // namespace

void CMainWnd::setUpLanguageAndBackground() {
  manager.fetchMapInfo();
  callPage("setLang", {Value::string(manager.pageLanguage())});
  if (const auto image = manager.backgroundImage()) {
    callPage("setbgImage", {Value::string(image->imageUrl), Value::string(image->displayName),
                            Value::boolean(image->isKestrixMap), Value::boolean(image->isIndependent),
                            Value::string(image->mapId)});
  }
}

bool CMainWnd::detectInstallation() {
  const std::wstring key = productKey();
  if (isKestrix) {
    std::wstring folder;
    if (FindInstalledEditor("2.0", folder)) callPage("showOverlay", {Value::string(L"2.0"), Value::string(folder)});
    return false;
  }
  if (!isInstalled(key)) return false;
  const std::wstring launcher = launcherPath();
  if (presentAt(launcher)) {
    if (isQv) {
      if (qvEditorPresent(installDir)) {
        manager.CreateCustomShortcut(installDir);
        callPage("installFinished", {Value::string(installDir)});
      }
    } else if (ui::startProgram(launcher, manager.buildLaunchArgs()) != 0) {
      CreateShortcut(launcher, desktopLinkPath(key), L"", L"", L"");
      manager.CreateCustomShortcut(installDir);
      callPage("showNoticeMessage", {});
      // The installed platform has taken over: the invisible window has
      // nothing left to do, so the program ends.
      uiengine::appStop(0);
      return true;
    }
  }
  callPage("updateSelectDirectory", {Value::string(installDir)});
  return false;
}

}  // namespace kx
