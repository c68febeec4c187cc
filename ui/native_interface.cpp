// The script object the page reaches as Window.this.nativeInterface: sixteen
// methods of fixed parameter counts, in this order, and read-only properties.

#include "common/path_text.h"
#include "ui/main_wnd.h"
#include "platform/locations.h"

namespace kx {

using uiengine::Value;

namespace {

using Arguments = std::span<const Value>;

// A string parameter is the value's simple text form.
std::wstring text(const Value& value) { return value.toText(); }
// A boolean parameter: true for true and for a non-zero integer.
bool flag(const Value& value) { return value.isTrueFlag(); }

// The folder the page offers before the user chooses one.
std::wstring defaultInstallFolder() {
  return joinPath(platform::applicationsFolder(), L"kestrix");
}

}  // namespace

uiengine::ScriptObject CMainWnd::nativeInterface() {
  using Call = std::function<Value(Arguments)>;
  auto method = [](std::string name, unsigned count, Call call) {
    return uiengine::ScriptMethod{std::move(name), count, std::move(call)};
  };
  uiengine::ScriptObject object;
  object.methods = {
      method("startInstall", 1, [this](Arguments a) { return Value::boolean(startInstall(text(a[0]))); }),
      method("cancelInstall", 0, [this](Arguments) { return cancelInstall(), Value(); }),
      method("selectDirectory", 1, [this](Arguments a) { return selectDirectory(text(a[0])), Value(); }),
      method("lanuchPlatform", 3,
             [this](Arguments a) { return Value::boolean(lanuchPlatform(flag(a[0]), flag(a[1]), text(a[2]))); }),
      method("responseReconnect", 1, [this](Arguments a) { return responseReconnect(flag(a[0])), Value(); }),
      method("cancelConnect", 0, [this](Arguments) { return cancelConnect(), Value(); }),
      method("reStartInstall", 1, [this](Arguments a) { return reStartInstall(flag(a[0])), Value(); }),
      method("closeInstaller", 2,
             [this](Arguments a) { return Value::boolean(closeInstaller(flag(a[0]), text(a[1]))); }),
      method("createCustomShortcut", 0, [this](Arguments) { return createCustomShortcut(), Value(); }),
      method("isInstalled", 1, [this](Arguments a) { return Value::boolean(isInstalled(text(a[0]))); }),
      method("setInstallGame", 1, [this](Arguments a) { return Value::boolean(setInstallGame(flag(a[0]))); }),
      method("enableCreatePlatformLnk", 1,
             [this](Arguments a) { return Value::boolean(enableCreatePlatformLnk(flag(a[0]))); }),
      method("track", 1, [this](Arguments a) { return track(text(a[0])), Value(); }),
      method("trackEx", 3, [this](Arguments a) { return trackEx(text(a[0]), text(a[1]), a[2]), Value(); }),
      method("enableAutoRun", 1, [this](Arguments a) { return Value::boolean(enableAutoRun(flag(a[0]))); }),
      method("openUrl", 1, [this](Arguments a) { return Value::boolean(openUrl(text(a[0]))); }),
  };
  const std::int32_t handle = static_cast<std::int32_t>(hwnd);
  object.properties = {
      {"windowHandle", [handle] { return Value::integer(handle); }},
      // The same pages serve every platform: they learn its path separator
      // and where programs usually go from here.
      {"pathSeparator",
       [] { return Value::string(std::wstring(1, kPathSeparator)); }},
      {"defaultInstallFolder", [] { return Value::string(defaultInstallFolder()); }},
  };
  return object;
}

}  // namespace kx
