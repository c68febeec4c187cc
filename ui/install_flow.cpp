// The bridge methods that drive an installation: folder and space report,
// start, cancel, the answers to the page's questions, and the options.

#include <cstdint>

#include "flavour/flavour.h"
#include "install_manager/install_man.h"
#include "platform/desktop.h"
#include "platform/volume.h"
#include "telemetry/telemetry.h"
#include "ui/install_path.h"
#include "ui/main_wnd.h"

namespace kx {

bool CMainWnd::startInstall(const std::wstring& folder) {
  requestedDir = folder;
  return startStep();
}

bool CMainWnd::startStep() {
  const std::wstring path = ui::installFolderFor(requestedDir);
  if (!ui::validateInstallPath(path)) {
    post(UM_PATH_INVALID, 1, 0);
    return false;
  }
  // A start answered before the first space report (the overwrite question
  // comes at once) finds no configuration loaded yet: load it first.
  if (manager.entries.empty()) manager.getTotalSize();
  if (!manager.checkConfig(path)) {
    post(UM_CONFIG_INVALID, 0, 0);
    return false;
  }
  installing = true;
  manager.setWindowTaskCallback(this);
  manager.setWindowStateCallback(this);
  manager.startWorker(path);
  installDir = path;
  return true;
}

void CMainWnd::selectDirectory(const std::wstring& folder) {
  try {
    // The volume that will hold the folder: its nearest existing ancestor's.
    const std::optional<std::uint64_t> free = platform::freeDiskSpace(folder);
    if (!free) {
      post(UM_PATH_INVALID, 0, 0);
      return;
    }
    if (!hwnd) return;
    postBytes(UM_DISK_SPACE, *free);
    const std::uint64_t required = manager.getTotalSize();
    requiredBytes = required;
    postBytes(UM_PACKAGE_SPACE, required);
    if (!manager.isConfigValid()) {
      requiredBytes = 0;
      post(UM_CONFIG_INVALID, 0, 0);
    }
  } catch (const std::exception&) {
    post(UM_PATH_INVALID, 0, 0);
  }
}

void CMainWnd::cancelInstall() {
  if (!installing) return;
  cancelled = true;
  manager.stopWorker();
}

void CMainWnd::cancelConnect() {
  cancelInstall();
  uiengine::appStop(0);
}

void CMainWnd::responseReconnect(bool answer) {
  {
    std::lock_guard guard(reconnectLock);
    askingReconnect = false;
    confirmShown = false;
  }
  if (!answer) return;  // the page cancels and closes
  failureCount.exchange(0);
  startStep();  // a failure posts its own message
  post(UM_RECONNECT_OVERLAY, 1, 0);
  std::lock_guard guard(reconnectLock);
  reconnectShown = true;
}

void CMainWnd::reStartInstall(bool answer) { manager.answerCheckFailure(answer); }

bool CMainWnd::setInstallGame(bool include) {
  for (PackageEntry& entry : manager.entries) {
    if (!entry.isPlatformInstaller) entry.selected = include;
  }
  return true;
}

bool CMainWnd::enableCreatePlatformLnk(bool enable) {
  manager.createDesktopShortcut = enable;
  return false;
}

bool CMainWnd::enableAutoRun(bool enable) {
  manager.autoRun = enable;
  return false;
}

void CMainWnd::track(const std::wstring& eventId) {
  if (isQv) TrackEventEx(eventId, L"", L"", {});
}

void CMainWnd::trackEx(const std::wstring& eventId, const std::wstring& key, const uiengine::Value& value) {
  if (!isQv) return;
  std::wstring attribute;
  if (value.type() == uiengine::Value::Type::Bool) {
    attribute = value.asBool() ? L"1" : L"0";
  } else if (value.type() == uiengine::Value::Type::Int) {
    attribute = std::to_wstring(value.asInt());
  }
  TelemetryAttributes attributes;
  if (!key.empty()) attributes.emplace_back(key, attribute);
  TrackEventEx(eventId, L"", L"", attributes);
}

bool CMainWnd::openUrl(const std::wstring& url) {
  if (!url.empty()) platform::openInBrowser(url);
  return true;
}

}  // namespace kx
