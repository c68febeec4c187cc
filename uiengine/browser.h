#pragma once
// A Chromium app window showing one address, with a private profile of its
// own that is removed when the window is.

#include <filesystem>
#include <memory>
#include <string>

#include "platform/subprocess.h"

namespace kx::uiengine {

class BrowserWindow {
 public:
  // Null when there is no display or no browser to show a window with.
  static std::unique_ptr<BrowserWindow> open(const std::string& url, int width, int height);
  ~BrowserWindow();

  bool running() { return process_->running(); }

 private:
  BrowserWindow(std::unique_ptr<platform::Subprocess> process, std::filesystem::path profile)
      : process_(std::move(process)), profile_(std::move(profile)) {}
  std::unique_ptr<platform::Subprocess> process_;
  std::filesystem::path profile_;
};

}  // namespace kx::uiengine
