#include "uiengine/browser.h"

#include <chrono>
#include <system_error>

#include "platform/codepage.h"
#include "platform/desktop.h"

namespace kx::uiengine {

namespace {

constexpr const char* kBrowser = "/usr/bin/chromium";

}  // namespace

std::unique_ptr<BrowserWindow> BrowserWindow::open(const std::string& url, int width, int height) {
  std::error_code error;
  if (!platform::hasDisplay() || !std::filesystem::exists(kBrowser, error)) return nullptr;
  std::filesystem::path profile;
  try {
    profile = platform::createPrivateTempFolder("kx-browser-");
  } catch (const std::system_error&) {
    return nullptr;
  }
  std::vector<std::string> arguments{
      "--app=" + url,
      "--user-data-dir=" + profile.string(),
      "--window-size=" + std::to_string(width) + "," + std::to_string(height),
      // A private, quiet browser: nothing of its own goes to the network.
      "--no-first-run",
      "--no-default-browser-check",
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
      "--disable-quic",
      "--password-store=basic",
  };
  if (platform::isSuperUser()) arguments.push_back("--no-sandbox");  // Chromium refuses to sandbox root
  // Its own process group, so that ending it ends its helpers too; should the
  // installer die, the browser is asked to end and takes them with it.
  auto process = platform::Subprocess::start(platform::fileSystemToWide(kBrowser), arguments,
                                             {.output = platform::Subprocess::Output::Discard,
                                              .lifetime = platform::Subprocess::Lifetime::EndsWithInstaller,
                                              .askedToEnd = true,
                                              .ownProcessGroup = true});
  if (!process) {
    std::filesystem::remove_all(profile, error);
    return nullptr;
  }
  return std::unique_ptr<BrowserWindow>(new BrowserWindow(std::move(process), std::move(profile)));
}

BrowserWindow::~BrowserWindow() {
  process_->terminate(std::chrono::milliseconds(2000));
  std::error_code ignored;
  std::filesystem::remove_all(profile_, ignored);
}

}  // namespace kx::uiengine
