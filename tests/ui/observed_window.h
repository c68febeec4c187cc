#pragma once
// The main window with what it posts to itself and what it calls on its page
// recorded instead of delivered, over an install manager whose engine the
// test supplies.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/strings.h"
#include "ui/main_wnd.h"

namespace kx::test {

struct Posted {
  std::uint32_t message;
  std::intptr_t wParam;
  std::intptr_t lParam;
  bool operator==(const Posted&) const = default;
};

struct PageCall {
  std::string name;
  std::vector<uiengine::Value> arguments;
};

class ObservedWindow : public CMainWnd {
 public:
  using CMainWnd::CMainWnd;

  std::vector<Posted> posted() {
    std::lock_guard guard(lock);
    return posts;
  }
  std::vector<PageCall> pageCalls() {
    std::lock_guard guard(lock);
    return calls;
  }
  // The calls of page function `name`, their arguments as text.
  std::vector<std::vector<std::wstring>> callsOf(const std::string& name) {
    std::vector<std::vector<std::wstring>> found;
    for (const auto& call : pageCalls()) {
      if (call.name != name) continue;
      std::vector<std::wstring> texts;
      for (const auto& argument : call.arguments) texts.push_back(argument.toText());
      found.push_back(texts);
    }
    return found;
  }
  void forget() {
    std::lock_guard guard(lock);
    posts.clear();
    calls.clear();
  }

 protected:
  void post(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) override {
    std::lock_guard guard(lock);
    posts.push_back({message, wParam, lParam});
  }
  void callPage(const std::string& name, std::vector<uiengine::Value> arguments) override {
    std::lock_guard guard(lock);
    calls.push_back({name, std::move(arguments)});
  }

 private:
  std::mutex lock;
  std::vector<Posted> posts;
  std::vector<PageCall> calls;
};

}  // namespace kx::test
