#pragma once
// The HTML engine layer: windows whose pages are rendered by a real browser.
//
// A window's page is served by a loopback server of the engine and shown in
// a Chromium app window (or, without a display, announced as a line
// "window: URL" on standard output for any browser to open). The page and
// native code meet through a live channel:
//   page -> native: objects exposed on Window.this (methods of fixed
//     parameter counts, read-only properties); each call answers a promise
//     with the method's value or rejects it with a native error's message;
//   native -> page: calls of global page functions by name, answered later;
//   posted window messages, handled in posting order on the UI thread.
// Everything here runs on the UI thread, the one that calls appLoop(),
// except where a function says "any thread".

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "uiengine/value.h"

namespace kx::uiengine {

using WindowHandle = std::uint32_t;  // 0: no window

// Window creation flags.
inline constexpr unsigned kMainWindow = 0x80;  // closing it ends appLoop()

// A message with a default meaning: unless the handler consumes it, the window closes.
inline constexpr std::uint32_t kCloseMessage = 0x0010;

// Script runtime features (setScriptRuntimeFeatures). Bit 8 (system
// information) is accepted and changes nothing: "@env" is always there.
inline constexpr unsigned kFeatureFileIo = 1;    // "@sys" fs.readdir
inline constexpr unsigned kFeatureSocketIo = 2;  // connections beyond the window server
inline constexpr unsigned kFeatureEval = 4;      // eval and new Function

// --- application ---------------------------------------------------------

// The process arguments, offered to pages as "@env" argv.
void appInit(std::vector<std::wstring> arguments);
// Runs the UI thread's loop until the main window closes (answering the
// integer it was closed with, else 0) or appStop() (answering its value).
int appLoop();
// Any thread.
void appStop(int exitValue = 0);
// Destroys every window (each host gets its engine-destroyed notification),
// ends the browsers and the server and removes their traces.
void appShutdown();
void setScriptRuntimeFeatures(unsigned features);
// How long a window's page may be away (a reload) before the window counts
// as closed. Default 3 seconds.
void setReloadGrace(std::chrono::milliseconds grace);

// --- windows ---------------------------------------------------------------

enum class LoadResult { Ok = 0, Discard = 1 };

// A page's request for one URL ("this://app/..."), answered by the host.
class DataRequest {
 public:
  explicit DataRequest(std::string uri) : uri_(std::move(uri)) {}
  const std::string& uri() const { return uri_; }
  // Hands the engine the URL's bytes (copied).
  void dataReady(std::span<const std::uint8_t> bytes) { data_.assign(bytes.begin(), bytes.end()), ready_ = true; }
  bool ready() const { return ready_; }
  const std::vector<std::uint8_t>& data() const { return data_; }

 private:
  std::string uri_;
  std::vector<std::uint8_t> data_;
  bool ready_ = false;
};

class HostCallback {
 public:
  virtual ~HostCallback() = default;
  // Every URL the window's pages load. Ok with data serves it; Discard, or
  // Ok without data, answers "not found".
  virtual LoadResult onDataLoad(WindowHandle window, DataRequest& request) = 0;
  // The window is going away; its handle is dead once this returns.
  virtual void onEngineDestroyed(WindowHandle window) = 0;
};

class MessageDelegate {
 public:
  virtual ~MessageDelegate() = default;
  // True when the message was consumed; otherwise default handling follows.
  virtual bool onMessage(WindowHandle window, std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) = 0;
};

struct ScriptMethod {
  std::string name;
  unsigned parameterCount = 0;
  // An exception thrown here, or an Error returned, makes the page's call throw.
  std::function<Value(std::span<const Value> arguments)> call;
};

struct ScriptProperty {
  std::string name;
  std::function<Value()> get;  // read when a page loads
};

struct ScriptObject {
  std::vector<ScriptMethod> methods;
  std::vector<ScriptProperty> properties;
};

// What a window's page tells of the window whenever it changes: whether it
// has the user's focus and is visible, and the screen it is on, in device pixels.
struct WindowActivity {
  bool focused = false;
  bool visible = false;
  int screenWidth = 0;
  int screenHeight = 0;
};
using ActivityListener = std::function<void(WindowHandle window, const WindowActivity& activity)>;

WindowHandle createWindow(unsigned flags, MessageDelegate* delegate);
// Called on the UI thread with every report of the window's page.
void setActivityListener(WindowHandle window, ActivityListener listener);
void setMediaType(WindowHandle window, std::string mediaType);
void setHostCallback(WindowHandle window, HostCallback* host);
// Publishes `object` to the window's pages as Window.this.<name>.
void exposeObject(WindowHandle window, std::string name, ScriptObject object);
// Loads a "this://app/" URL. The host is asked for the document at once, so
// a false answer means it had none; the page runs once the window is shown.
bool loadFile(WindowHandle window, const std::string& url);
void showWindow(WindowHandle window);
// Closes the window as its page's Window.this.close(result) would.
void closeWindow(WindowHandle window, const Value& result = {});

// Calls the global page function `name`. Calls keep their order and wait
// for the page to be there. `onResult` runs on the UI thread with the
// function's value, or with an Error when it threw; without `onResult` a
// thrown error is logged to standard error.
using CallResult = std::function<void(const Value& result)>;
void callFunction(WindowHandle window, std::string name, std::vector<Value> arguments, CallResult onResult = {});

// Any thread. False when there is no such window; the message is then lost.
bool postMessage(WindowHandle window, std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam);

}  // namespace kx::uiengine
