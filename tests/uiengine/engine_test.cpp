// The engine in this process: the window server, what it lets through, the
// main window's data-load callback, posted messages and the loop's end.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "tests/uiengine/http_probe.h"
#include "ui/main_wnd.h"
#include "ui/page_archive.h"
#include "uiengine/archive.h"
#include "uiengine/engine.h"

namespace kx::uiengine {
namespace {

using test::httpGet;
using test::webSocketHandshake;

std::vector<std::uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::vector<std::uint8_t> binaryItem() {
  std::vector<std::uint8_t> data(70000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>((i * 31) ^ (i >> 8));
  return data;
}

class CountingHost : public HostCallback {
 public:
  LoadResult onDataLoad(WindowHandle, DataRequest& request) override {
    ++loads;
    request.dataReady(std::span<const std::uint8_t>(page));
    return LoadResult::Ok;
  }
  void onEngineDestroyed(WindowHandle) override { ++destroyed; }
  std::vector<std::uint8_t> page = bytes("<html window-width=300px><p>x</p></html>");
  std::atomic<int> loads{0};
  int destroyed = 0;
};

class RecordingDelegate : public MessageDelegate {
 public:
  static constexpr std::uint32_t kStopMessage = 0x600;
  bool onMessage(WindowHandle, std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) override {
    seen.push_back({message, wParam, lParam});
    if (message == kStopMessage) appStop(3);
    return message == kCloseMessage ? consumeClose : true;
  }
  struct Seen {
    std::uint32_t message;
    std::intptr_t wParam, lParam;
  };
  std::vector<Seen> seen;
  bool consumeClose = false;
};

class EngineTest : public testing::Test {
 protected:
  // Hosts outlive the windows: the engine notifies them when it destroys a window.
  void TearDown() override { appShutdown(); }
  CountingHost host;
  RecordingDelegate delegate;

  // Shows the window and answers its announced address.
  static std::string show(WindowHandle window) {
    testing::internal::CaptureStdout();
    showWindow(window);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(out.starts_with("window: http://127.0.0.1:")) << out;
    return out.substr(8, out.find('\n') - 8);
  }

  // Runs the loop here while `client` runs on another thread; the loop ends with the client.
  static void withClient(const std::function<void()>& client) {
    std::thread thread([&] {
      client();
      appStop(0);
    });
    appLoop();
    thread.join();
  }

  // Opens a session with the one-time address; answers the cookie to send.
  static std::string startSession(const std::string& url) {
    const auto [port, target] = test::splitUrl(url);
    const auto reply = httpGet(port, target);
    EXPECT_EQ(reply.status, 303u);
    const std::string setCookie = reply.headers.count("set-cookie") ? reply.headers.at("set-cookie") : "";
    return setCookie.substr(0, setCookie.find(';'));
  }
};

TEST_F(EngineTest, MainWindowServesArchiveItemsByteExactAndDiscardsMissingOrEmptyOnes) {
  const auto binary = binaryItem();
  const auto block = packArchive({{"index.htm", bytes("<html><body id=main></body></html>")},
                                  {"image/close/normal.png", binary},
                                  {"empty.css", {}}});
  ui::archiveSlot() = Archive::open(block);
  auto* window = new CMainWnd();  // kept by the engine, as in the product
  window->attachCallbacks();
  ASSERT_TRUE(loadFile(window->hwnd, "this://app/index.htm"));
  const std::string url = show(window->hwnd);
  const std::uint16_t port = test::splitUrl(url).first;
  withClient([&] {
    const std::string cookie = startSession(url);
    const test::Headers session{{"Cookie", cookie}};
    const auto page = httpGet(port, "/index.htm", session);
    EXPECT_EQ(page.status, 200u);
    EXPECT_TRUE(page.body.ends_with("<html><body id=main></body></html>"));
    EXPECT_NE(page.body.find("/__kx/runtime/bootstrap.js"), std::string::npos);
    auto picture = httpGet(port, "/image/close/normal.png", session);
    EXPECT_EQ(picture.status, 200u);
    EXPECT_EQ(picture.headers.at("content-type"), "image/png");
    EXPECT_EQ(std::vector<std::uint8_t>(picture.body.begin(), picture.body.end()), binary);
    EXPECT_EQ(httpGet(port, "/missing.png", session).status, 404u);
    EXPECT_EQ(httpGet(port, "/empty.css", session).status, 404u);
    EXPECT_EQ(httpGet(port, "/__kx/runtime/bootstrap.js", session).status, 200u);
    EXPECT_EQ(httpGet(port, "/__kx/runtime/none.js", session).status, 404u);
  });
  appShutdown();
  EXPECT_EQ(window->hwnd, 0u) << "the engine-destroyed notification clears the handle";
}

TEST_F(EngineTest, MainWindowDataLoadBranches) {
  // The archive is read in place: its block must outlive it.
  const auto block = packArchive({{"index.htm", bytes("<html></html>")}});
  ui::archiveSlot() = Archive::open(block);
  CMainWnd window;
  DataRequest doubleSlash("this://app///index.htm");
  EXPECT_EQ(window.onDataLoad(window.hwnd, doubleSlash), LoadResult::Ok);
  EXPECT_EQ(doubleSlash.data(), bytes("<html></html>"));
  DataRequest resource("res:page.htm");
  EXPECT_EQ(window.onDataLoad(window.hwnd, resource), LoadResult::Discard);
  DataRequest other("https://example.invalid/a.png");
  EXPECT_EQ(window.onDataLoad(window.hwnd, other), LoadResult::Ok);
  EXPECT_FALSE(other.ready());
  ui::archiveSlot().reset();
  DataRequest noArchive("this://app/index.htm");
  EXPECT_EQ(window.onDataLoad(window.hwnd, noArchive), LoadResult::Discard);
}

TEST_F(EngineTest, RefusedRequestsNeverReachTheHost) {
  const WindowHandle window = createWindow(kMainWindow, nullptr);
  setHostCallback(window, &host);
  ASSERT_TRUE(loadFile(window, "this://app/index.htm"));
  const int loadsBefore = host.loads;
  const std::string url = show(window);
  const std::uint16_t port = test::splitUrl(url).first;
  const std::string self = "http://127.0.0.1:" + std::to_string(port);
  withClient([&] {
    EXPECT_EQ(httpGet(port, "/index.htm").status, 403u) << "no secret";
    const std::string cookie = startSession(url);
    const auto [unused, startTarget] = test::splitUrl(url);
    EXPECT_EQ(httpGet(port, startTarget).status, 403u) << "the start address is spent";
    struct Case {
      const char* what;
      test::Headers headers;
    } refused[] = {
        {"wrong secret", {{"Cookie", cookie.substr(0, cookie.size() - 2) + "00"}}},
        {"foreign origin", {{"Cookie", cookie}, {"Origin", "http://evil.example"}}},
        {"other local origin", {{"Cookie", cookie}, {"Origin", "http://127.0.0.1:1"}}},
        {"cross-site", {{"Cookie", cookie}, {"Sec-Fetch-Site", "cross-site"}}},
        {"foreign host", {{"Cookie", cookie}, {"Host", "evil.example:" + std::to_string(port)}}},
        {"localhost host", {{"Cookie", cookie}, {"Host", "localhost:" + std::to_string(port)}}},
    };
    for (const auto& c : refused) {
      EXPECT_EQ(httpGet(port, "/index.htm", c.headers).status, 403u) << c.what;
      EXPECT_EQ(httpGet(port, "/__kx/config.js", c.headers).status, 403u) << c.what;
      EXPECT_EQ(webSocketHandshake(port, "/__kx/channel", c.headers), 403u) << c.what;
    }
    EXPECT_EQ(webSocketHandshake(port, "/__kx/channel", {{"Origin", self}}), 403u) << "channel without secret";
    EXPECT_EQ(webSocketHandshake(port, "/__kx/channel", {{"Cookie", cookie}}), 403u) << "channel without origin";
    EXPECT_EQ(host.loads, loadsBefore);
    EXPECT_EQ(httpGet(port, "/index.htm", {{"Cookie", cookie}}).status, 200u);
    EXPECT_EQ(webSocketHandshake(port, "/__kx/channel", {{"Cookie", cookie}, {"Origin", self}}), 101u);
    EXPECT_EQ(host.loads, loadsBefore + 1);
  });
}

TEST_F(EngineTest, PostedMessagesArriveInOrderAndAnUnconsumedCloseClosesTheWindow) {
  const WindowHandle window = createWindow(kMainWindow, &delegate);
  setHostCallback(window, &host);
  EXPECT_FALSE(postMessage(0, 0x500, 0, 0));
  EXPECT_FALSE(postMessage(window + 1000, 0x500, 0, 0));
  std::thread worker([&] {
    for (int i = 0; i < 100; ++i) postMessage(window, 0x500 + i % 11, i, -i);
    postMessage(window, kCloseMessage, 0, 0);
  });
  EXPECT_EQ(appLoop(), 0);
  worker.join();
  ASSERT_EQ(delegate.seen.size(), 101u);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(delegate.seen[i].message, 0x500u + i % 11);
    EXPECT_EQ(delegate.seen[i].wParam, i);
    EXPECT_EQ(delegate.seen[i].lParam, -i);
  }
  EXPECT_EQ(delegate.seen.back().message, kCloseMessage);
  EXPECT_EQ(host.destroyed, 1);
  EXPECT_FALSE(postMessage(window, 0x500, 0, 0)) << "the window is gone";
}

TEST_F(EngineTest, AConsumedCloseKeepsTheWindow) {
  delegate.consumeClose = true;
  const WindowHandle window = createWindow(kMainWindow, &delegate);
  setHostCallback(window, &host);
  std::thread([&] {
    postMessage(window, kCloseMessage, 0, 0);
    postMessage(window, RecordingDelegate::kStopMessage, 0, 0);
  }).join();
  EXPECT_EQ(appLoop(), 3);
  EXPECT_EQ(delegate.seen.size(), 2u);
  EXPECT_EQ(host.destroyed, 0);
  EXPECT_TRUE(postMessage(window, 0x500, 0, 0));
}

TEST_F(EngineTest, ClosingTheMainWindowEndsTheLoopWithItsValue) {
  const WindowHandle window = createWindow(kMainWindow, nullptr);
  setHostCallback(window, &host);
  const WindowHandle other = createWindow(0, nullptr);
  closeWindow(other, Value::integer(9));  // not the main window: the loop goes on
  std::thread([&] { postMessage(window, 0x400, 0, 0); }).join();
  closeWindow(window, Value::integer(7));
  EXPECT_EQ(appLoop(), 7);
  EXPECT_EQ(host.destroyed, 1);
}

}  // namespace
}  // namespace kx::uiengine
