#pragma once
// The installer's only window: where the page and the native side meet.

#include <mutex>
#include <string>

#include "uiengine/engine.h"

namespace kx {

class CMainWnd : public uiengine::MessageDelegate, public uiengine::HostCallback {
 public:
  // Creates the engine window (main window: closing it ends the loop).
  CMainWnd();

  // Registers the window as the engine's host and publishes its script
  // object, once: start-up calls it both before loading and before showing.
  void attachCallbacks();

  // Window set-up before the window is shown, in two halves: page language
  // and background, then detection of an earlier installation. The second
  // answers true when it has handed over to an installed program and the
  // window must stay hidden.
  void setUpLanguageAndBackground();
  bool detectInstallation();

  // Serves "this://app/" URLs from the page archive.
  uiengine::LoadResult onDataLoad(uiengine::WindowHandle window, uiengine::DataRequest& request) override;
  void onEngineDestroyed(uiengine::WindowHandle window) override;
  bool onMessage(uiengine::WindowHandle window, std::uint32_t message, std::intptr_t wParam,
                 std::intptr_t lParam) override;

  uiengine::WindowHandle hwnd = 0;
  bool callbacksAttached = false;
  std::mutex windowLock;  // held while the handle is cleared on engine destruction

 private:
  uiengine::ScriptObject nativeInterface();
};

}  // namespace kx
