#pragma once
// The installer's only window: where the page and the native side meet.
//
// The page calls the methods of the script object `nativeInterface`. The
// install manager reports through the window's two callback interfaces on
// its own threads; those never touch the page but post the window one of the
// messages below, whose handler calls the page function on the UI thread.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "download/interfaces.h"
#include "uiengine/engine.h"

namespace kx {

class InstallMan;

// The window's own messages and the page function each one calls.
enum WindowMessage : std::uint32_t {
  UM_DOWNLOAD_PROGRESS = 1280,  // updateDownloadProgress(percent, speed, isPackage)
  UM_INSTALL_PROGRESS = 1281,   // updateInstallProgress(percent, isPackage)
  UM_ASK_RECONNECT = 1282,      // stopWorker, then showConfirmReconnect()
  UM_RECONNECT_OVERLAY = 1283,  // 1: showReconnectting(left, top); 0: closeReconnectDlg()
  UM_PACKAGE_SPACE = 1284,      // setPackageSpace(bytes): wParam high, lParam low 32 bits
  UM_DISK_SPACE = 1285,         // setDiskSpace(bytes, enough): wParam high, lParam low 32 bits
  UM_INSTALL_FINISHED = 1286,   // onInstallFinish()
  UM_CHECK_FILE_ERROR = 1287,   // onCheckFileErr(text)
  UM_PATH_INVALID = 1288,       // pathIsInvalid(wParam == 1)
  UM_CONFIG_INVALID = 1289,     // configServerInvalid()
  UM_AUTO_RECONNECT = 1290,     // install manager reconnect(true)
  // The download stopped for the disk: onDiskError(wParam == full), posted
  // after the space messages that carry the report's figures.
  UM_DISK_ERROR = 1291,
};

class CMainWnd : public uiengine::MessageDelegate,
                 public uiengine::HostCallback,
                 public IDownloadStateCallBack,
                 public ITaskCallback {
 public:
  // Creates the engine window (main window: closing it ends the loop).
  explicit CMainWnd(InstallMan& manager);
  CMainWnd();  // with the process-wide install manager

  // Registers the window as the engine's host and publishes its script
  // object, once: start-up calls it both before loading and before showing.
  void attachCallbacks();

  // Window set-up before the window is shown, in two halves: page language
  // and background, then detection of an earlier installation. The second
  // answers true when it has handed over to an installed program and the
  // window must stay hidden.
  void setUpLanguageAndBackground();
  bool detectInstallation();

  // ---- uiengine::HostCallback / MessageDelegate (UI thread) -------------------
  // Serves "this://app/" URLs from the page archive.
  uiengine::LoadResult onDataLoad(uiengine::WindowHandle window, uiengine::DataRequest& request) override;
  // Detaches the window from the install manager's task reports and forgets its handle.
  void onEngineDestroyed(uiengine::WindowHandle window) override;
  bool onMessage(uiengine::WindowHandle window, std::uint32_t message, std::intptr_t wParam,
                 std::intptr_t lParam) override;

  // ---- IDownloadStateCallBack (engine threads): the retry policy ---------------
  void OnInterrupted() override;
  void OnReconnected() override;
  void OnRetry() override;

  // ---- ITaskCallback (install manager threads) ---------------------------------
  void OnDownloadProgress(std::int32_t percent, std::int32_t bytesPerSecond) override;
  void OnInstallProgress(std::int32_t percent) override;
  void OnInstallFinished() override;
  void OnCheckFileError(const std::string& url) override;
  void OnDiskError(DiskError error, std::uint64_t freeBytes, std::uint64_t requiredBytes) override;

  // ---- nativeInterface methods (UI thread) ---------------------------------------
  bool startInstall(const std::wstring& folder);
  void cancelInstall();
  void selectDirectory(const std::wstring& folder);
  bool lanuchPlatform(bool autoRun, bool shortcut, const std::wstring& name);
  void responseReconnect(bool answer);
  void cancelConnect();
  void reStartInstall(bool answer);
  bool closeInstaller(bool shortcut, const std::wstring& name);
  void createCustomShortcut();
  bool isInstalled(const std::wstring& productKey);
  bool setInstallGame(bool include);
  bool enableCreatePlatformLnk(bool enable);
  void track(const std::wstring& eventId);
  void trackEx(const std::wstring& eventId, const std::wstring& key, const uiengine::Value& value);
  bool enableAutoRun(bool enable);
  bool openUrl(const std::wstring& url);

  uiengine::WindowHandle hwnd = 0;
  bool callbacksAttached = false;
  std::mutex windowLock;  // held while the handle is cleared on engine destruction
  std::wstring installDir;
  bool installing = false;
  std::atomic<bool> cancelled{false};
  std::atomic<std::uint64_t> requiredBytes{0};
  std::atomic<bool> askingReconnect{false};  // read without the lock by OnRetry
  bool reconnectShown = false;
  bool confirmShown = false;
  std::mutex reconnectLock;
  std::atomic<std::int32_t> failureCount{0};
  std::wstring requestedDir;
  std::string checkErrorText;

 protected:
  // How the window reaches itself and its page; tests observe these.
  virtual void post(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam);
  virtual void callPage(const std::string& name, std::vector<uiengine::Value> arguments);

 private:
  uiengine::ScriptObject nativeInterface();
  // Validates and creates the folder of `requestedDir` and starts the worker.
  bool startStep();
  // A transfer failure counted against the budget: automatic resume within
  // it, the reconnect question beyond it. False when it asked.
  bool countFailure();
  void postBytes(std::uint32_t message, std::uint64_t bytes);
  // Starts `exe` with the launch link of the map, if any.
  void launch(const std::wstring& exe);
  // The flavour's launcher in `installDir` (Platform.exe in qv).
  std::wstring launcherPath() const;

  InstallMan& manager;
};

}  // namespace kx
