#include "uiengine/engine.h"

#include <deque>
#include <iostream>
#include <map>
#include <mutex>
#include <set>

#include <nlohmann/json.hpp>

#include "common/strings.h"
#include "uiengine/access_guard.h"
#include "uiengine/archive.h"
#include "uiengine/browser.h"
#include "uiengine/folder_listing.h"
#include "uiengine/http_server.h"
#include "uiengine/main_loop.h"
#include "uiengine/page_document.h"

namespace kx::uiengine {

std::span<const std::uint8_t> runtimeScripts();  // packed from uiengine/runtime/

namespace {

using json = nlohmann::json;

constexpr std::string_view kAppPrefix = "this://app/";
constexpr auto kBrowserWatch = std::chrono::milliseconds(1000);

struct WindowState {
  WindowHandle handle = 0;
  unsigned flags = 0;
  MessageDelegate* delegate = nullptr;
  HostCallback* host = nullptr;
  ActivityListener activityListener;
  std::string mediaType;
  std::map<std::string, ScriptObject> objects;
  std::string documentPath;  // inside "this://app/"
  WindowAttributes attributes;
  bool shown = false;
  std::shared_ptr<Channel> channel;  // the live page, if any
  bool pageReady = false;            // its scripts have run
  std::deque<std::string> outbox;    // page calls waiting for a ready page
  std::map<std::uint64_t, CallResult> pendingCalls;
  std::uint64_t nextCall = 1;
  std::uint64_t graceTimer = 0;
  std::unique_ptr<BrowserWindow> browser;
  std::uint64_t browserTimer = 0;
};

HttpResponse plain(unsigned status, std::string body) {
  HttpResponse response;
  response.status = status;
  response.body = std::move(body);
  return response;
}

RequestFacts factsOf(const HttpRequest& request) {
  return {request.method, request.target, request.host, request.origin, request.fetchSite, request.cookie,
          request.upgrade};
}

std::wstring exceptionText(const std::exception& error) { return fromUtf8(error.what()); }

class Engine final : public ServerDelegate {
 public:
  MainLoop loop;
  std::vector<std::wstring> arguments;
  unsigned features = 0;
  std::chrono::milliseconds grace{3000};

  // --- windows (UI thread) ---

  WindowState* find(WindowHandle handle) {
    const auto it = windows_.find(handle);
    return it == windows_.end() ? nullptr : it->second.get();
  }

  WindowHandle create(unsigned flags, MessageDelegate* delegate) {
    auto window = std::make_unique<WindowState>();
    window->handle = nextHandle_++;
    window->flags = flags;
    window->delegate = delegate;
    const WindowHandle handle = window->handle;
    windows_.emplace(handle, std::move(window));
    std::lock_guard guard(liveLock_);
    live_.insert(handle);
    return handle;
  }

  bool isLive(WindowHandle handle) {
    std::lock_guard guard(liveLock_);
    return live_.count(handle) != 0;
  }

  bool load(WindowState& window, const std::string& url) {
    if (!url.starts_with(kAppPrefix) || !window.host) return false;
    std::string path = url.substr(kAppPrefix.size());
    while (path.starts_with('/')) path.erase(0, 1);
    DataRequest request(url);
    if (window.host->onDataLoad(window.handle, request) != LoadResult::Ok || !request.ready()) return false;
    window.documentPath = path;
    window.attributes = readWindowAttributes(
        std::string_view(reinterpret_cast<const char*>(request.data().data()), request.data().size()));
    if (window.channel) send(window, {{"t", "navigate"}, {"url", "/" + path}});
    return true;
  }

  void show(WindowState& window) {
    if (window.shown) return;
    window.shown = true;
    ensureServer();
    served_ = window.handle;
    const std::string url = guard_->issueStartUrl("/" + window.documentPath);
    window.browser = BrowserWindow::open(url, window.attributes.width, window.attributes.height);
    if (!window.browser) {
      std::cout << "window: " << url << std::endl;
      return;
    }
    watchBrowser(window.handle);
  }

  void close(WindowHandle handle, const Value& result) {
    WindowState* window = find(handle);
    if (!window) return;
    if (window->channel) {
      send(*window, {{"t", "close"}});
      window->channel->close();
    }
    const bool main = window->flags & kMainWindow;
    destroy(handle);
    if (main) loop.stop(result.type() == Value::Type::Int ? result.asInt() : 0);
  }

  void call(WindowState& window, std::string name, std::vector<Value> arguments, CallResult onResult) {
    const std::uint64_t id = window.nextCall++;
    if (!onResult) {
      onResult = [name](const Value& result) {
        if (result.isError()) std::cerr << "script error in " << name << "(): " << toUtf8(result.asString()) << '\n';
      };
    }
    window.pendingCalls.emplace(id, std::move(onResult));
    json args = json::array();
    for (const auto& argument : arguments) args.push_back(toJson(argument));
    const std::string text = json{{"t", "invoke"}, {"id", id}, {"name", name}, {"args", args}}.dump();
    if (window.pageReady) {
      window.channel->send(text);
    } else {
      window.outbox.push_back(text);
    }
  }

  void deliver(WindowHandle handle, std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) {
    WindowState* window = find(handle);
    if (!window) return;
    const bool handled = window->delegate && window->delegate->onMessage(handle, message, wParam, lParam);
    if (!handled && message == kCloseMessage) close(handle, {});
  }

  void shutdown() {
    while (!windows_.empty()) destroy(windows_.begin()->first);
    if (server_) server_->stop();  // no server thread from here on
    loop.discardPending();         // tasks that still hold server objects
    channels_.clear();
    server_.reset();
    guard_.reset();
    served_ = 0;
  }

  // --- server side (server thread) ---

  void onRequest(const HttpRequest& request, std::function<void(HttpResponse)> respond) override {
    const AccessGuard::Decision decision = guard_->check(factsOf(request));
    if (decision.verdict == AccessGuard::Verdict::Refuse) return respond(plain(403, "forbidden"));
    if (decision.verdict == AccessGuard::Verdict::StartSession) {
      HttpResponse response = plain(303, "");
      response.headers = {{"Location", decision.landing}, {"Set-Cookie", guard_->sessionCookie()},
                          {"Cache-Control", "no-store"}, {"Referrer-Policy", "no-referrer"}};
      return respond(std::move(response));
    }
    const auto path = decodedPath(request.target);
    if (!path) return respond(plain(400, "bad request"));
    if (path->starts_with("__kx/runtime/")) return respond(withHeaders(runtimeItem(path->substr(13))));
    loop.post([this, path = *path, respond = std::move(respond)] {
      respond(withHeaders(path == "__kx/config.js" ? configScript() : pageItem(path)));
    });
  }

  bool acceptChannel(const HttpRequest& request) override {
    return guard_->check(factsOf(request)).verdict == AccessGuard::Verdict::Allow &&
           decodedPath(request.target) == "__kx/channel";
  }

  void onChannelOpen(std::shared_ptr<Channel> channel) override {
    loop.post([this, channel] { channelOpened(channel); });
  }

  void onChannelText(std::uint64_t channel, std::string text) override {
    loop.post([this, channel, text = std::move(text)] { channelText(channel, text); });
  }

  void onChannelClosed(std::uint64_t channel) override {
    loop.post([this, channel] { channelClosed(channel); });
  }

 private:
  void ensureServer() {
    if (server_) return;
    server_ = std::make_unique<HttpServer>();
    guard_ = std::make_unique<AccessGuard>(server_->port());
    server_->start(*this);
  }

  void destroy(WindowHandle handle) {
    const auto it = windows_.find(handle);
    if (it == windows_.end()) return;
    std::unique_ptr<WindowState> window = std::move(it->second);
    windows_.erase(it);
    {
      std::lock_guard guard(liveLock_);
      live_.erase(handle);
    }
    if (served_ == handle) served_ = 0;
    loop.cancel(window->graceTimer);
    loop.cancel(window->browserTimer);
    window->browser.reset();
    if (window->host) window->host->onEngineDestroyed(handle);
  }

  void watchBrowser(WindowHandle handle) {
    WindowState* window = find(handle);
    if (!window) return;
    window->browserTimer = loop.postAfter(kBrowserWatch, [this, handle] {
      WindowState* window = find(handle);
      if (!window || !window->browser) return;
      if (window->browser->running()) return watchBrowser(handle);
      close(handle, {});  // a browser that has ended reloads nothing: no grace period
    });
  }

  void send(WindowState& window, const json& message) {
    if (window.channel) window.channel->send(message.dump());
  }

  WindowState* windowOfChannel(std::uint64_t channel) {
    for (auto& [handle, window] : windows_)
      if (window->channel && window->channel->id() == channel) return window.get();
    return nullptr;
  }

  void channelOpened(const std::shared_ptr<Channel>& channel) {
    channels_[channel->id()] = channel;
    WindowState* window = find(served_);
    if (!window) return channel->close();
    // One live page per window: a newer one (a reload, a second tab) wins.
    if (window->channel) window->channel->close();
    window->channel = channel;
    window->pageReady = false;
    loop.cancel(window->graceTimer);
    window->graceTimer = 0;
  }

  void channelClosed(std::uint64_t channel) {
    channels_.erase(channel);
    WindowState* window = windowOfChannel(channel);
    if (!window) return;
    window->channel.reset();
    window->pageReady = false;
    const WindowHandle handle = window->handle;
    window->graceTimer = loop.postAfter(grace, [this, handle] { close(handle, {}); });
  }

  void channelText(std::uint64_t channel, const std::string& text) {
    WindowState* window = windowOfChannel(channel);
    if (!window) return;
    const json message = json::parse(text, nullptr, false);
    if (!message.is_object() || !message.contains("t") || !message["t"].is_string()) return;
    const std::string type = message["t"];
    if (type == "ready") {
      window->pageReady = true;
      while (!window->outbox.empty()) {
        window->channel->send(std::move(window->outbox.front()));
        window->outbox.pop_front();
      }
    } else if (type == "call" || type == "engine") {
      answerCall(*window, message);
    } else if (type == "result") {
      pageAnswered(*window, message);
    } else if (type == "activity") {
      reportActivity(*window, message);
    } else if (type == "close") {
      close(window->handle, message.contains("value") ? fromJson(message["value"]) : Value());
    }
  }

  void reportActivity(WindowState& window, const json& message) {
    if (!window.activityListener) return;
    WindowActivity activity;
    activity.focused = message.value("focused", false);
    activity.visible = message.value("visible", false);
    const json screen = message.value("screen", json::array());
    if (screen.is_array() && screen.size() == 2 && screen[0].is_number_integer() && screen[1].is_number_integer()) {
      activity.screenWidth = screen[0].get<int>();
      activity.screenHeight = screen[1].get<int>();
    }
    window.activityListener(window.handle, activity);
  }

  void answerCall(WindowState& window, const json& message) {
    const WindowHandle handle = window.handle;
    const json id = message.value("id", json());
    const std::string name = message.value("name", "");
    const json args = message.value("args", json::array());
    Value result;
    try {
      if (!args.is_array()) throw std::invalid_argument("arguments must be a list");
      std::vector<Value> arguments;
      for (const auto& argument : args) arguments.push_back(fromJson(argument));
      result = message["t"] == "engine" ? engineCall(name, arguments)
                                        : nativeCall(window, message.value("object", ""), name, arguments);
    } catch (const std::exception& error) {
      result = Value::error(exceptionText(error));
    } catch (...) {
      result = Value::error(L"native error");
    }
    // The call may have closed the window.
    WindowState* still = find(handle);
    if (!still || !still->channel) return;
    json reply{{"t", "ret"}, {"id", id}};
    if (result.isError()) {
      reply["error"] = toUtf8(result.asString());
    } else if (!result.isUndefined()) {
      reply["value"] = toJson(result);
    }
    send(*still, reply);
  }

  Value nativeCall(WindowState& window, const std::string& object, const std::string& name,
                   const std::vector<Value>& arguments) {
    const auto found = window.objects.find(object);
    if (found != window.objects.end()) {
      for (const auto& method : found->second.methods) {
        if (method.name != name) continue;
        if (arguments.size() != method.parameterCount)
          throw std::invalid_argument(object + "." + name + " takes " + std::to_string(method.parameterCount) +
                                      " argument(s), got " + std::to_string(arguments.size()));
        return method.call(arguments);
      }
    }
    throw std::invalid_argument(object + "." + name + " is not a function");
  }

  Value engineCall(const std::string& name, const std::vector<Value>& arguments) {
    const bool listing = name == "pickerList" || (name == "readdir" && (features & kFeatureFileIo));
    if (listing && arguments.size() == 1)
      return listFolder(arguments[0].type() == Value::Type::String ? arguments[0].asString() : std::wstring());
    throw std::invalid_argument("unknown engine operation " + name);
  }

  void pageAnswered(WindowState& window, const json& message) {
    const auto it = window.pendingCalls.find(message.value("id", std::uint64_t{0}));
    if (it == window.pendingCalls.end()) return;
    CallResult onResult = std::move(it->second);
    window.pendingCalls.erase(it);
    if (message.contains("error")) {
      onResult(Value::error(fromUtf8(message["error"].is_string() ? message["error"].get<std::string>() : "error")));
    } else {
      onResult(message.contains("value") ? fromJson(message["value"]) : Value());
    }
  }

  HttpResponse pageItem(const std::string& path) {
    WindowState* window = find(served_);
    if (!window || !window->host) return plain(404, "not found");
    DataRequest request(std::string(kAppPrefix) + path);
    if (window->host->onDataLoad(window->handle, request) != LoadResult::Ok || !request.ready())
      return plain(404, "not found");
    HttpResponse response;
    response.contentType = contentTypeFor(path);
    response.body.assign(request.data().begin(), request.data().end());
    if (response.contentType.starts_with("text/html")) response.body = withRuntime(response.body);
    return response;
  }

  HttpResponse runtimeItem(const std::string& name) {
    static const auto archive = Archive::open(runtimeScripts());
    const auto item = archive ? archive->item(name) : std::nullopt;
    if (!item) return plain(404, "not found");
    HttpResponse response;
    response.contentType = contentTypeFor(name);
    response.body.assign(item->begin(), item->end());
    return response;
  }

  HttpResponse configScript() {
    WindowState* window = find(served_);
    // Members keep their declared order, so a page lists them as native code declared them.
    using ordered = nlohmann::ordered_json;
    ordered objects = ordered::object();
    if (window) {
      for (const auto& [name, object] : window->objects) {
        ordered methods = ordered::object(), properties = ordered::object();
        for (const auto& method : object.methods) methods[method.name] = method.parameterCount;
        for (const auto& property : object.properties) {
          Value value;
          try {
            value = property.get();
          } catch (const std::exception& error) {
            std::cerr << "property " << name << "." << property.name << ": " << error.what() << '\n';
          }
          properties[property.name] = ordered::parse(toJson(value).dump());
        }
        objects[name] = {{"methods", methods}, {"properties", properties}};
      }
    }
    ordered argv = ordered::array();
    for (const auto& argument : arguments) argv.push_back(toUtf8(argument));
    const ordered config{{"objects", objects},
                         {"media", window ? window->mediaType : ""},
                         {"features", features},
                         {"argv", argv}};
    HttpResponse response;
    response.contentType = "text/javascript; charset=utf-8";
    response.body = "globalThis.__kxConfig = " + config.dump() + ";\n";
    return response;
  }

  HttpResponse withHeaders(HttpResponse response) {
    for (auto& header : servedPageHeaders(guard_->origin(), features)) response.headers.push_back(std::move(header));
    return response;
  }

  std::map<WindowHandle, std::unique_ptr<WindowState>> windows_;
  WindowHandle nextHandle_ = 1;
  std::mutex liveLock_;
  std::set<WindowHandle> live_;
  WindowHandle served_ = 0;  // the shown window whose pages the server answers
  std::map<std::uint64_t, std::shared_ptr<Channel>> channels_;
  std::unique_ptr<HttpServer> server_;
  std::unique_ptr<AccessGuard> guard_;
};

// Never destroyed: threads may still post while the process exits.
Engine& engine() {
  static Engine* instance = new Engine;
  return *instance;
}

template <typename Action>
void withWindow(WindowHandle handle, Action action) {
  if (WindowState* window = engine().find(handle)) action(*window);
}

}  // namespace

void appInit(std::vector<std::wstring> arguments) { engine().arguments = std::move(arguments); }
int appLoop() { return engine().loop.run(); }
void appStop(int exitValue) { engine().loop.stop(exitValue); }
void appShutdown() { engine().shutdown(); }
void setScriptRuntimeFeatures(unsigned features) { engine().features = features; }
void setReloadGrace(std::chrono::milliseconds grace) { engine().grace = grace; }

WindowHandle createWindow(unsigned flags, MessageDelegate* delegate) { return engine().create(flags, delegate); }

void setActivityListener(WindowHandle window, ActivityListener listener) {
  withWindow(window, [&](WindowState& w) { w.activityListener = std::move(listener); });
}

void setMediaType(WindowHandle window, std::string mediaType) {
  withWindow(window, [&](WindowState& w) { w.mediaType = std::move(mediaType); });
}

void setHostCallback(WindowHandle window, HostCallback* host) {
  withWindow(window, [&](WindowState& w) { w.host = host; });
}

void exposeObject(WindowHandle window, std::string name, ScriptObject object) {
  withWindow(window, [&](WindowState& w) { w.objects[std::move(name)] = std::move(object); });
}

bool loadFile(WindowHandle window, const std::string& url) {
  WindowState* w = engine().find(window);
  return w && engine().load(*w, url);
}

void showWindow(WindowHandle window) {
  withWindow(window, [](WindowState& w) { engine().show(w); });
}

void closeWindow(WindowHandle window, const Value& result) { engine().close(window, result); }

void callFunction(WindowHandle window, std::string name, std::vector<Value> arguments, CallResult onResult) {
  withWindow(window, [&](WindowState& w) { engine().call(w, std::move(name), std::move(arguments), std::move(onResult)); });
}

bool postMessage(WindowHandle window, std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) {
  if (!engine().isLive(window)) return false;
  engine().loop.post([=] { engine().deliver(window, message, wParam, lParam); });
  return true;
}

}  // namespace kx::uiengine
