// The window's native side: the start step, the space report, the message
// handler's conversions, the retry policy for transfer failures, cancelling
// and the options.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/strings.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "tests/support/test_server.h"
#include "tests/ui/observed_window.h"
#include "tests/workflow/workflow_fakes.h"

namespace kx::test {
namespace {

namespace fs = std::filesystem;
using uiengine::Value;

constexpr std::int32_t kPlannedSegments = 4;

class MainWindow : public ::testing::Test {
 protected:
  void TearDown() override { window.cancelInstall(); }

  bool downloadStarted() { return log.waitFor("engine.Download(" + manager.entries.at(0).url + ")"); }

  // A folder that may be created, in the scratch folder.
  std::wstring folder(const std::string& name) const { return fromUtf8(scratch.file(name)); }

  EventLog log;
  TempDir scratch;
  InstallMan manager{[this](EngineKind, IDownloadCallBack* progress, IDownloadStateCallBack* state) {
    return std::make_unique<FakeEngine>(log, "engine", progress, state, FakeEngine::Script{}, kPlannedSegments);
  }};
  ObservedWindow window{manager};
};

TEST_F(MainWindow, AFolderWithAForbiddenCharacterIsRefusedAndNothingIsCreated) {
  for (const char* name : {"a?b", "a<b", "a>b", "a*b", "a\"b"}) {
    window.forget();
    EXPECT_FALSE(window.startInstall(folder(name) + L"/inner")) << name;
    EXPECT_EQ(window.posted(), (std::vector<Posted>{{UM_PATH_INVALID, 1, 0}})) << name;
  }
  EXPECT_TRUE(fs::is_empty(scratch.path()));
  EXPECT_FALSE(window.installing);
}

// The overwrite question can be answered before the first space report has
// loaded anything: the start loads the configuration itself.
TEST_F(MainWindow, AStartBeforeAnySpaceReportLoadsTheConfigurationFirst) {
  ASSERT_TRUE(manager.entries.empty());
  EXPECT_TRUE(window.startInstall(folder("games")));
  EXPECT_FALSE(manager.entries.empty());
  EXPECT_TRUE(window.installing);
  EXPECT_TRUE(downloadStarted());
}

TEST_F(MainWindow, WithoutAUsableConfigurationTheStartIsRefused) {
  ASSERT_GT(manager.getTotalSize(), 0u);
  // A package whose size no server tells.
  manager.entries.at(0).size = 0;
  manager.entries.at(0).url = "https://127.0.0.1:9/pkg.zip";
  EXPECT_FALSE(window.startInstall(folder("games")));
  EXPECT_EQ(window.posted(), (std::vector<Posted>{{UM_CONFIG_INVALID, 0, 0}}));
  EXPECT_FALSE(window.installing);
}

TEST_F(MainWindow, AStartRegistersTheWindowAndRunsTheWorkerUntilCancelled) {
  // The servers are unreachable here, so the built-in configuration is used.
  ASSERT_GT(manager.getTotalSize(), 0u);
  ASSERT_TRUE(window.startInstall(folder("a/b") + L"/"));
  EXPECT_TRUE(fs::is_directory(scratch.file("a/b")));
  EXPECT_TRUE(window.installing);
  EXPECT_EQ(window.installDir, folder("a/b") + L"/");
  ASSERT_TRUE(downloadStarted());

  // Reports of the install manager reach the window as posted messages.
  manager.OnProgress(50, 2048, platform::wideToFileSystem(manager.entries[0].localPath));
  EXPECT_EQ(window.posted().back(), (Posted{UM_DOWNLOAD_PROGRESS, 45, 2048}));

  window.cancelInstall();
  EXPECT_TRUE(window.cancelled);
  EXPECT_TRUE(log.contains("engine.Stop"));
  window.forget();
  window.OnDownloadProgress(50, 1);
  window.OnInstallProgress(95);
  window.OnInstallFinished();
  EXPECT_TRUE(window.posted().empty()) << "nothing is posted once cancelled";
  window.OnCheckFileError("https://x/pkg.zip");
  EXPECT_EQ(window.posted(), (std::vector<Posted>{{UM_CHECK_FILE_ERROR, 0, 0}})) << "except a failed check";
}

TEST_F(MainWindow, CancelBeforeAnyStartDoesNothing) {
  window.cancelInstall();
  EXPECT_FALSE(window.cancelled);
  window.OnDownloadProgress(12, 3);
  EXPECT_EQ(window.posted(), (std::vector<Posted>{{UM_DOWNLOAD_PROGRESS, 12, 3}}));
}

TEST_F(MainWindow, SpaceReportOfAFolderThenTheRequiredSpace) {
  window.selectDirectory(folder("not/yet/there"));
  const auto posted = window.posted();
  ASSERT_EQ(posted.size(), 2u);
  // The free space of the volume that will hold the folder: its nearest existing ancestor's.
  const std::uint64_t free = (std::uint64_t(std::uint32_t(posted[0].wParam)) << 32) + std::uint32_t(posted[0].lParam);
  EXPECT_EQ(posted[0].message, UM_DISK_SPACE);
  EXPECT_NEAR(double(free), double(fs::space(scratch.path()).available), 64.0 * 1024 * 1024);
  // The built-in 4 GiB package, downloaded and extracted: 8 GiB, the high half 2.
  EXPECT_EQ(posted[1], (Posted{UM_PACKAGE_SPACE, 2, 0}));
  EXPECT_EQ(window.requiredBytes, 8ull << 30);
}

TEST_F(MainWindow, AFolderOnAMissingVolumeOnlyMarksThePath) {
  window.selectDirectory(L"Z:\\Games\\kestrix");
  EXPECT_EQ(window.posted(), (std::vector<Posted>{{UM_PATH_INVALID, 0, 0}}));
}

TEST_F(MainWindow, SpaceMessagesCarry64BitCountsAndJudgeEnoughWhenHandled) {
  const std::uint64_t required = (5ull << 32) + 7;
  window.requiredBytes = required;
  struct Case {
    std::uint64_t free;
    bool enough;
  } cases[] = {{required, true}, {required - 1, false}, {required + 1, true}, {0, false}};
  for (const auto& c : cases) {
    window.forget();
    window.onMessage(window.hwnd, UM_DISK_SPACE, std::intptr_t(c.free >> 32), std::intptr_t(c.free & 0xFFFFFFFF));
    const auto calls = window.pageCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, "setDiskSpace");
    EXPECT_EQ(calls[0].arguments, (std::vector<Value>{Value::number(double(c.free)), Value::boolean(c.enough)}));
  }
  window.forget();
  window.onMessage(window.hwnd, UM_PACKAGE_SPACE, 1, 0xFFFFFFFF);
  EXPECT_EQ(window.pageCalls()[0].arguments, (std::vector<Value>{Value::number(8589934591.0)}));
}

TEST_F(MainWindow, MessagesCallTheirPageFunctionsAndSayWhetherTheyAreHandled) {
  manager.downloadingPackage = true;
  window.checkErrorText = "https://host/pkg.zip";
  struct Case {
    std::uint32_t message;
    std::intptr_t wParam, lParam;
    std::string function;
    std::vector<Value> arguments;
    bool handled;
  } cases[] = {
      {UM_DOWNLOAD_PROGRESS, 42, 1048577, "updateDownloadProgress",
       {Value::integer(42), Value::integer(1048577), Value::boolean(true)}, true},
      {UM_INSTALL_PROGRESS, 97, 0, "updateInstallProgress", {Value::integer(97), Value::boolean(true)}, true},
      {UM_RECONNECT_OVERLAY, 0, 0, "closeReconnectDlg", {}, true},
      {UM_INSTALL_FINISHED, 0, 0, "onInstallFinish", {}, false},
      {UM_CHECK_FILE_ERROR, 0, 0, "onCheckFileErr", {Value::string(L"https://host/pkg.zip")}, false},
      {UM_PATH_INVALID, 1, 0, "pathIsInvalid", {Value::boolean(true)}, false},
      {UM_PATH_INVALID, 0, 0, "pathIsInvalid", {Value::boolean(false)}, false},
      {UM_CONFIG_INVALID, 0, 0, "configServerInvalid", {}, false},
  };
  for (const auto& c : cases) {
    window.forget();
    EXPECT_EQ(window.onMessage(window.hwnd, c.message, c.wParam, c.lParam), c.handled) << c.message;
    const auto calls = window.pageCalls();
    ASSERT_EQ(calls.size(), 1u) << c.message;
    EXPECT_EQ(calls[0].name, c.function);
    EXPECT_EQ(calls[0].arguments, c.arguments) << c.message;
  }
  window.forget();
  EXPECT_FALSE(window.onMessage(window.hwnd, 1292, 0, 0));
  EXPECT_TRUE(window.pageCalls().empty());
}

TEST_F(MainWindow, AFullDiskShowsTheSpaceFiguresThenAsks) {
  const std::uint64_t free = 3ull << 30, required = (8ull << 30) + 1;
  window.OnDiskError(DiskError::Full, free, required);
  for (const Posted& posted : window.posted())
    EXPECT_TRUE(window.onMessage(window.hwnd, posted.message, posted.wParam, posted.lParam));
  EXPECT_EQ(window.callsOf("setPackageSpace"), (std::vector<std::vector<std::wstring>>{{L"8589934593"}}));
  EXPECT_EQ(window.callsOf("setDiskSpace"), (std::vector<std::vector<std::wstring>>{{L"3221225472", L"false"}}));
  EXPECT_EQ(window.callsOf("onDiskError"), (std::vector<std::vector<std::wstring>>{{L"true"}}));
  EXPECT_EQ(window.pageCalls().back().name, "onDiskError") << "the figures come before the question";
  EXPECT_EQ(window.requiredBytes, required);

  window.forget();
  window.OnDiskError(DiskError::Unwritable, free, 1);
  for (const Posted& posted : window.posted()) window.onMessage(window.hwnd, posted.message, posted.wParam, posted.lParam);
  EXPECT_EQ(window.callsOf("setDiskSpace"), (std::vector<std::vector<std::wstring>>{{L"3221225472", L"true"}}));
  EXPECT_EQ(window.callsOf("onDiskError"), (std::vector<std::vector<std::wstring>>{{L"false"}}));
}

// The retry budget is three times the engine's parallel transfers.
TEST_F(MainWindow, FailuresWithinTheBudgetResumeThenTheUserIsAsked) {
  for (int failure = 1; failure <= 13; ++failure) {
    window.forget();
    window.OnInterrupted();
    EXPECT_EQ(window.posted(), (std::vector<Posted>{{UM_AUTO_RECONNECT, 0, 0}})) << "failure " << failure;
  }
  window.forget();
  window.OnInterrupted();
  EXPECT_EQ(window.posted(), (std::vector<Posted>{{UM_ASK_RECONNECT, 0, 0}}));
  EXPECT_TRUE(window.askingReconnect && window.confirmShown);

  // While the question is open, further failures are not counted.
  window.forget();
  window.OnInterrupted();
  window.OnRetry();
  EXPECT_TRUE(window.posted().empty());
  EXPECT_EQ(window.failureCount, 14);

  // Declining leaves nothing running; agreeing starts afresh with a new budget.
  window.responseReconnect(false);
  EXPECT_FALSE(window.askingReconnect || window.confirmShown);
  EXPECT_EQ(window.failureCount, 14);
}

TEST_F(MainWindow, ARetryBeyondTheBudgetAsksWithoutTheNoticeAndALaterInterruptionShowsIt) {
  for (int failure = 1; failure <= 13; ++failure) window.OnRetry();
  window.forget();
  window.OnRetry();
  EXPECT_EQ(window.posted(), (std::vector<Posted>{{UM_ASK_RECONNECT, 0, 0}}));
  EXPECT_TRUE(window.askingReconnect);
  EXPECT_FALSE(window.confirmShown);

  window.forget();
  window.OnInterrupted();
  window.OnInterrupted();
  EXPECT_EQ(window.posted(), (std::vector<Posted>{{UM_RECONNECT_OVERLAY, 1, 0}})) << "the notice, once";
  window.forget();
  window.OnReconnected();
  EXPECT_EQ(window.posted(), (std::vector<Posted>{{UM_RECONNECT_OVERLAY, 0, 0}}));
  EXPECT_FALSE(window.reconnectShown);
}

TEST_F(MainWindow, AgreeingToReconnectResetsTheCountAndStartsAgain) {
  ASSERT_GT(manager.getTotalSize(), 0u);
  ASSERT_TRUE(window.startInstall(folder("games")));
  for (int failure = 1; failure <= 14; ++failure) window.OnInterrupted();
  ASSERT_TRUE(window.askingReconnect);
  window.onMessage(window.hwnd, UM_ASK_RECONNECT, 0, 0);
  EXPECT_EQ(window.callsOf("showConfirmReconnect").size(), 1u);
  EXPECT_TRUE(log.contains("engine.Stop")) << "the worker is stopped before the question";
  window.forget();
  log.clear();

  window.responseReconnect(true);
  EXPECT_EQ(window.failureCount, 0);
  EXPECT_EQ(window.posted(), (std::vector<Posted>{{UM_RECONNECT_OVERLAY, 1, 0}}));
  EXPECT_TRUE(window.reconnectShown);
  EXPECT_FALSE(window.askingReconnect || window.confirmShown);
  EXPECT_TRUE(downloadStarted()) << "a new worker downloads again";
}

TEST_F(MainWindow, OnceTheEngineDestroysTheWindowTaskReportsNoLongerReachIt) {
  manager.entries = {PackageEntry{}};
  manager.entries[0].localPath = L"/dl/pkg.zip";
  manager.entries[0].size = 1000;
  manager.totalBytes = 1000;
  manager.setWindowTaskCallback(&window);
  platform::setTickSource([] { return std::uint64_t(100'000); });
  manager.OnProgress(50, 7, "/dl/pkg.zip");
  EXPECT_EQ(window.posted(), (std::vector<Posted>{{UM_DOWNLOAD_PROGRESS, 45, 7}}));

  window.onEngineDestroyed(window.hwnd);
  EXPECT_EQ(window.hwnd, 0u);
  window.forget();
  platform::setTickSource([] { return std::uint64_t(200'000); });
  manager.OnProgress(60, 7, "/dl/pkg.zip");
  platform::setTickSource(nullptr);
  EXPECT_TRUE(window.posted().empty());
}

TEST_F(MainWindow, OptionsReachTheInstallManager) {
  EXPECT_FALSE(window.enableAutoRun(true));
  EXPECT_TRUE(manager.autoRun);
  EXPECT_FALSE(window.enableCreatePlatformLnk(false));
  EXPECT_FALSE(manager.createDesktopShortcut);
  manager.entries = {PackageEntry{}, PackageEntry{}};
  manager.entries[1].isPlatformInstaller = true;
  EXPECT_TRUE(window.setInstallGame(false));
  EXPECT_FALSE(manager.entries[0].selected);
  EXPECT_TRUE(manager.entries[1].selected);
}

}  // namespace
}  // namespace kx::test
