#include "ui/main_wnd.h"

#include <string_view>

#include "common/strings.h"
#include "install_manager/install_man.h"
#include "ui/page_archive.h"

namespace kx {

using uiengine::Value;

CMainWnd::CMainWnd(InstallMan& manager)
    : hwnd(uiengine::createWindow(uiengine::kMainWindow, this)), manager(manager) {}

CMainWnd::CMainWnd() : CMainWnd(InstallMan::instance()) {}

void CMainWnd::attachCallbacks() {
  if (!hwnd || callbacksAttached) return;
  callbacksAttached = true;
  uiengine::setHostCallback(hwnd, this);
  uiengine::exposeObject(hwnd, "nativeInterface", nativeInterface());
}

uiengine::LoadResult CMainWnd::onDataLoad(uiengine::WindowHandle, uiengine::DataRequest& request) {
  constexpr std::string_view appPrefix = "this://app/";
  const std::string_view uri = request.uri();
  if (uri.starts_with(appPrefix)) {
    std::string_view path = uri.substr(appPrefix.size());
    if (path.starts_with("//")) path.remove_prefix(2);
    const auto& archive = ui::archiveSlot();
    const auto item = archive ? archive->item(path) : std::nullopt;
    if (!item || item->empty()) return uiengine::LoadResult::Discard;
    request.dataReady(*item);
    return uiengine::LoadResult::Ok;
  }
  // This executable carries no resources of its own beside the archive, and the pages use no "res:" URL.
  if (uri.starts_with("res:")) return uiengine::LoadResult::Discard;
  return uiengine::LoadResult::Ok;  // the engine loads it its own way
}

void CMainWnd::onEngineDestroyed(uiengine::WindowHandle) {
  // Task reports stop here; state reports still arrive but post to no window.
  manager.setWindowTaskCallback(nullptr);
  std::lock_guard guard(windowLock);
  hwnd = 0;
}

void CMainWnd::post(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) {
  uiengine::postMessage(hwnd, message, wParam, lParam);
}

void CMainWnd::callPage(const std::string& name, std::vector<Value> arguments) {
  // A page function that throws is logged by the engine in one line; the loop goes on.
  uiengine::callFunction(hwnd, name, std::move(arguments));
}

void CMainWnd::postBytes(std::uint32_t message, std::uint64_t bytes) {
  post(message, static_cast<std::intptr_t>(bytes >> 32), static_cast<std::intptr_t>(bytes & 0xFFFFFFFFu));
}

namespace {

// The byte count of a space message: the high half in wParam, the low in lParam.
std::int64_t bytesOf(std::intptr_t wParam, std::intptr_t lParam) {
  const std::uint64_t high = static_cast<std::uint32_t>(wParam);
  const std::uint64_t low = static_cast<std::uint32_t>(lParam);
  return static_cast<std::int64_t>((high << 32) + low);
}

Value integer(std::intptr_t value) { return Value::integer(static_cast<std::int32_t>(value)); }

}  // namespace

bool CMainWnd::onMessage(uiengine::WindowHandle, std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) {
  const Value isPackage = Value::boolean(manager.downloadingPackage.load());
  switch (message) {
    case UM_DOWNLOAD_PROGRESS:
      callPage("updateDownloadProgress", {integer(wParam), integer(lParam), isPackage});
      return true;
    case UM_INSTALL_PROGRESS:
      callPage("updateInstallProgress", {integer(wParam), isPackage});
      return true;
    case UM_ASK_RECONNECT:
      manager.stopWorker();
      callPage("showConfirmReconnect", {});
      return true;
    case UM_RECONNECT_OVERLAY:
      // The browser places the window itself; its position is not known here,
      // and the page does not use it.
      if (wParam == 1)
        callPage("showReconnectting", {Value::integer(0), Value::integer(0)});
      else
        callPage("closeReconnectDlg", {});
      return true;
    case UM_PACKAGE_SPACE:
      callPage("setPackageSpace", {Value::number(static_cast<double>(bytesOf(wParam, lParam)))});
      return true;
    case UM_DISK_SPACE: {
      const std::int64_t free = bytesOf(wParam, lParam);
      const bool enough = static_cast<std::uint64_t>(free) >= requiredBytes.load();
      callPage("setDiskSpace", {Value::number(static_cast<double>(free)), Value::boolean(enough)});
      return true;
    }
    case UM_INSTALL_FINISHED:
      callPage("onInstallFinish", {});
      return false;
    case UM_CHECK_FILE_ERROR:
      callPage("onCheckFileErr", {Value::string(fromUtf8(checkErrorText))});
      return false;
    case UM_PATH_INVALID:
      callPage("pathIsInvalid", {Value::boolean(wParam == 1)});
      return false;
    case UM_CONFIG_INVALID:
      callPage("configServerInvalid", {});
      return false;
    case UM_AUTO_RECONNECT:
      manager.reconnect(true);
      return true;
    case UM_DISK_ERROR:
      callPage("onDiskError", {Value::boolean(wParam == static_cast<std::intptr_t>(DiskError::Full))});
      return true;
    default:
      return false;
  }
}

// ---- Task reports: only flags are read and messages posted --------------------

void CMainWnd::OnDownloadProgress(std::int32_t percent, std::int32_t bytesPerSecond) {
  if (!cancelled) post(UM_DOWNLOAD_PROGRESS, percent, bytesPerSecond);
}

void CMainWnd::OnInstallProgress(std::int32_t percent) {
  if (!cancelled) post(UM_INSTALL_PROGRESS, percent, 0);
}

void CMainWnd::OnInstallFinished() {
  if (!cancelled) post(UM_INSTALL_FINISHED, 0, 0);
}

void CMainWnd::OnCheckFileError(const std::string& url) {
  // The manager reports no second failure before the page has answered the
  // first, so the handler reads this text undisturbed.
  if (&url != &checkErrorText) checkErrorText = url;
  post(UM_CHECK_FILE_ERROR, 0, 0);
}

void CMainWnd::OnDiskError(DiskError error, std::uint64_t freeBytes, std::uint64_t requiredBytes) {
  if (cancelled) return;
  // The figures go as a space report's do, ahead of the question, so the
  // page shows what is missing behind it.
  this->requiredBytes = requiredBytes;
  postBytes(UM_PACKAGE_SPACE, requiredBytes);
  postBytes(UM_DISK_SPACE, freeBytes);
  post(UM_DISK_ERROR, static_cast<std::intptr_t>(error), 0);
}

// ---- The retry policy for transfer failures ----------------------------------
// Failures within three times the engine's parallel transfers resume on their
// own; the next one stops the worker and asks the user.

bool CMainWnd::countFailure() {
  const std::int32_t before = failureCount.fetch_add(1);
  const std::int32_t budget = 3 * manager.GetTaskCount();
  if (before <= budget) {
    post(UM_AUTO_RECONNECT, 0, 0);
    return true;
  }
  askingReconnect = true;
  post(UM_ASK_RECONNECT, 0, 0);
  return false;
}

void CMainWnd::OnInterrupted() {
  std::lock_guard guard(reconnectLock);
  if (!askingReconnect) {
    if (!countFailure()) confirmShown = true;
  } else if (!confirmShown && !reconnectShown) {
    post(UM_RECONNECT_OVERLAY, 1, 0);
    reconnectShown = true;
  }
}

void CMainWnd::OnRetry() {
  if (askingReconnect) return;
  countFailure();
}

void CMainWnd::OnReconnected() {
  post(UM_RECONNECT_OVERLAY, 0, 0);
  std::lock_guard guard(reconnectLock);
  reconnectShown = false;
}

}  // namespace kx
