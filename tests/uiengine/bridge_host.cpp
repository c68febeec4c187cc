// Test host of the window engine: one main window whose page
// (tests/uiengine/pages) drives the script bridge from a browser.
//
//   uiengine_bridge_host [--grace-ms N]
// Prints "window: URL" once shown, "destroyed" when the engine destroys the
// window, and exits with the loop's value.

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/strings.h"
#include "uiengine/archive.h"
#include "uiengine/engine.h"

namespace kx::test {
std::span<const std::uint8_t> bridgePages();
}

namespace {

using namespace kx::uiengine;

constexpr std::uint32_t kTickMessage = 0x0400 + 7;

class Host final : public MessageDelegate, public HostCallback {
 public:
  Host() : archive_(Archive::open(kx::test::bridgePages())), mainThread_(std::this_thread::get_id()) {
    hwnd_ = createWindow(kMainWindow, this);
    setHostCallback(hwnd_, this);
    exposeObject(hwnd_, "nativeInterface", nativeInterface());
    setActivityListener(hwnd_, [this](WindowHandle, const WindowActivity& a) {
      if (std::this_thread::get_id() != mainThread_) return;
      activities_.push_back(Value::string(std::wstring(a.focused ? L"focused" : L"away") + L"|" +
                                          (a.visible ? L"visible" : L"hidden") + L"|" + std::to_wstring(a.screenWidth) +
                                          L"x" + std::to_wstring(a.screenHeight)));
    });
  }

  ~Host() override {
    for (auto& worker : workers_) worker.join();
  }

  WindowHandle hwnd() const { return hwnd_; }

  LoadResult onDataLoad(WindowHandle, DataRequest& request) override {
    const std::string prefix = "this://app/";
    if (!request.uri().starts_with(prefix)) return LoadResult::Discard;
    const auto item = archive_->item(request.uri().substr(prefix.size()));
    if (!item) return LoadResult::Discard;
    request.dataReady(*item);
    return LoadResult::Ok;
  }

  void onEngineDestroyed(WindowHandle) override { std::cout << "destroyed" << std::endl; }

  bool onMessage(WindowHandle window, std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) override {
    if (message == kTickMessage) {
      callFunction(window, "onTick",
                   {Value::integer(static_cast<std::int32_t>(wParam)), Value::integer(static_cast<std::int32_t>(lParam)),
                    Value::boolean(std::this_thread::get_id() == mainThread_)});
      return true;
    }
    return message == kCloseMessage && keepOpen_;
  }

 private:
  ScriptObject nativeInterface() {
    ScriptObject object;
    auto method = [&](std::string name, unsigned count, std::function<Value(std::span<const Value>)> call) {
      object.methods.push_back({std::move(name), count, std::move(call)});
    };
    method("add", 2, [](std::span<const Value> a) {
      if (a[0].type() == Value::Type::Int && a[1].type() == Value::Type::Int)
        return Value::integer(a[0].asInt() + a[1].asInt());
      return Value::number(a[0].asDouble() + a[1].asDouble());
    });
    method("echo", 1, [](std::span<const Value> a) { return a[0]; });
    // The argument as native code sees it: "type|text|flag".
    method("describe", 1, [](std::span<const Value> a) {
      static const char* names[] = {"undefined", "null", "bool", "int", "double", "string", "array", "object", "error"};
      return Value::string(kx::fromUtf8(names[static_cast<int>(a[0].type())]) + L"|" + a[0].toText() + L"|" +
                           (a[0].isTrueFlag() ? L"true" : L"false"));
    });
    method("fail", 1, [](std::span<const Value> a) -> Value { throw std::runtime_error(kx::toUtf8(a[0].toText())); });
    method("failWithValue", 1, [](std::span<const Value> a) { return Value::error(a[0].toText()); });
    // Posts `count` tick messages from a worker thread.
    method("postTicks", 1, [this](std::span<const Value> a) {
      const int count = a[0].asInt();
      const WindowHandle window = hwnd_;
      workers_.emplace_back([window, count] {
        for (int i = 0; i < count; ++i) postMessage(window, kTickMessage, i, i * 10);
      });
      return Value();
    });
    // Calls a page function; its answer is kept for lastResult().
    method("callPage", 2, [this](std::span<const Value> a) {
      callFunction(hwnd_, kx::toUtf8(a[0].asString()), a[1].asArray(), [this](const Value& result) {
        lastResult_ = Value::object({{L"error", Value::boolean(result.isError())},
                                     {L"value", result.isError() ? Value::string(result.asString()) : result}});
      });
      return Value();
    });
    method("lastResult", 0, [this](std::span<const Value>) { return lastResult_; });
    // What the page reported of the window, as "focused|visible|WxH", oldest first.
    method("activities", 0, [this](std::span<const Value>) { return Value::array(activities_); });
    method("keepOpenOnClose", 1, [this](std::span<const Value> a) {
      keepOpen_ = a[0].isTrueFlag();
      return Value();
    });
    method("postClose", 0, [this](std::span<const Value>) { return Value::boolean(postMessage(hwnd_, kCloseMessage, 0, 0)); });
    method("stop", 1, [](std::span<const Value> a) {
      appStop(a[0].asInt());
      return Value();
    });
    object.properties.push_back({"windowHandle", [this] { return Value::integer(static_cast<std::int32_t>(hwnd_)); }});
    return object;
  }

  std::unique_ptr<Archive> archive_;
  std::thread::id mainThread_;
  WindowHandle hwnd_ = 0;
  std::vector<std::thread> workers_;
  Value lastResult_;
  std::vector<Value> activities_;
  bool keepOpen_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--grace-ms") == 0) setReloadGrace(std::chrono::milliseconds(std::atoi(argv[i + 1])));
  appInit({L"uiengine_bridge_host", L"--grace-ms"});
  setScriptRuntimeFeatures(kFeatureFileIo);
  int result = 0;
  {
    Host host;
    setMediaType(host.hwnd(), "desktop");
    if (!loadFile(host.hwnd(), "this://app/index.htm")) return 3;
    // Made before the page exists: it must reach the page once it has loaded.
    callFunction(host.hwnd(), "started", {Value::string(L"early")});
    showWindow(host.hwnd());
    result = appLoop();
    appShutdown();
  }
  std::cout << "exit " << result << std::endl;
  return result;
}
