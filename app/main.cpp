// Process entry, start-up and shutdown.

#include <clocale>
#include <functional>
#include <memory>

#include "flavour/flavour.h"
#include "platform/current_directory.h"
#include "platform/process.h"
#include "platform/single_instance.h"
#include "platform/window_focus.h"
#include "telemetry/telemetry.h"
#include "ui/main_wnd.h"
#include "ui/page_archive.h"
#include "ui/startup_folder.h"
#include "uiengine/engine.h"

namespace kx {

namespace {

constexpr wchar_t kInstanceName[] = L"{5D698D07-C0EC-4B81-A01B-6F4EFEA95B43}";
// File I/O, socket I/O, eval and system information for page scripts.
constexpr unsigned kScriptRuntimeFeatures = 15;

// The application routine: 0 when another copy runs, else the loop's value.
int uimain(const std::function<int()>& run) {
  // Held until the process ends; the kernel drops it however the process ends.
  static std::unique_ptr<platform::InstanceLock> instanceLock = platform::InstanceLock::acquire(kInstanceName);
  if (!instanceLock) return 0;

  // Helper files beside the executable are found by relative paths.
  const std::vector<std::wstring> arguments = platform::processArguments();
  if (!arguments.empty()) {
    const std::wstring folder = ui::startupFolder(arguments.front());
    if (!folder.empty()) platform::setCurrentDirectory(folder);
  }

  uiengine::setScriptRuntimeFeatures(kScriptRuntimeFeatures);
  auto& archive = ui::archiveSlot();
  archive.reset();
  archive = uiengine::Archive::open(ui::packedPages());

  // Lives as long as the engine keeps the window; never deleted.
  auto* window = new CMainWnd();
  uiengine::setMediaType(window->hwnd, "desktop");
  // What the system would tell of the window on Windows comes from its page
  // here: the telemetry's sessions follow the window's time in front.
  uiengine::setActivityListener(window->hwnd, [](uiengine::WindowHandle, const uiengine::WindowActivity& activity) {
    platform::reportForeground(activity.focused && activity.visible);
    platform::reportScreenSize({activity.screenWidth, activity.screenHeight});
  });
  window->attachCallbacks();
  uiengine::loadFile(window->hwnd, "this://app/index.htm");

  window->setUpLanguageAndBackground();
  if (!window->detectInstallation()) {
    uiengine::callFunction(window->hwnd, "centerWindow", {});
    window->attachCallbacks();
    uiengine::showWindow(window->hwnd);
  }

  const int result = run();
  if (isQv) AppExit();
  return result;
}

}  // namespace

}  // namespace kx

int main() {
  std::setlocale(LC_ALL, "");
  kx::uiengine::appInit(kx::platform::processArguments());
  const int result = kx::uimain([] { return kx::uiengine::appLoop(); });
  kx::uiengine::appShutdown();
  return result;
}
