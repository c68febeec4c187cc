#include "ui/main_wnd.h"

#include <string_view>

#include "ui/page_archive.h"

namespace kx {

CMainWnd::CMainWnd() : hwnd(uiengine::createWindow(uiengine::kMainWindow, this)) {}

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
  std::lock_guard guard(windowLock);
  hwnd = 0;
}

bool CMainWnd::onMessage(uiengine::WindowHandle, std::uint32_t, std::intptr_t, std::intptr_t) { return false; }

uiengine::ScriptObject CMainWnd::nativeInterface() { return {}; }

}  // namespace kx
