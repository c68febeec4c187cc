// A whole run of the installer's window in flavour qv, on the engine layer,
// for the browser test of the telemetry (tests/browser/telemetry.test.mjs).
// The window's start-up does not call the install manager yet, so this host
// makes that first call itself, which parses the command line and sends the
// launch event; after the loop it sends the exit event, as the product does.
// Its telemetry goes to $KX_TEST_TELEMETRY_HOST.
#include <clocale>

#include "install_manager/flavour.h"
#include "install_manager/install_man.h"
#include "platform/process.h"
#include "telemetry/telemetry.h"
#include "ui/main_wnd.h"
#include "ui/page_archive.h"
#include "uiengine/engine.h"

int main() {
  using namespace kx;
  std::setlocale(LC_ALL, "");
  uiengine::appInit(platform::processArguments());
  InstallMan::instance().parseCommandLineOnce(platform::processArguments());
  ui::archiveSlot() = uiengine::Archive::open(ui::packedPages());
  auto* window = new CMainWnd();  // the engine keeps it until the process ends
  window->attachCallbacks();
  uiengine::loadFile(window->hwnd, "this://app/index.htm");
  uiengine::showWindow(window->hwnd);
  const int result = uiengine::appLoop();
  if (isQv) AppExit();
  uiengine::appShutdown();
  return result;
}
