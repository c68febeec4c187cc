#pragma once
// The install manager: process-wide owner of the endpoint table, the package
// entries, the map fields and the download engine, and the download worker
// that drives the engine, verifies the files and hands over to installation.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "download/interfaces.h"
#include "download/package_entry.h"
#include "install_manager/endpoints.h"
#include "install_manager/http_transfer.h"

namespace kx {

// The three engines the factory can build.
enum class EngineKind { Aria2, Library, Segmented };

// Constructs an engine of the given kind reporting to the two callbacks.
using EngineBuilder =
    std::function<std::unique_ptr<IDownload>(EngineKind, IDownloadCallBack*, IDownloadStateCallBack*)>;

// Builds the real engines: CAria2Download, CDriftDownload and Downloader.
std::unique_ptr<IDownload> buildEngine(EngineKind kind, IDownloadCallBack* progress, IDownloadStateCallBack* state);

// What the page receives at start-up to show the map as its background.
struct BackgroundImage {
  std::wstring imageUrl;
  std::wstring displayName;
  bool isKestrixMap = false;
  bool isIndependent = false;
  std::wstring mapId;
};

class InstallMan : public IDownloadCallBack, public IDownloadStateCallBack {
 public:
  // The process-wide instance, created on first use.
  static InstallMan& instance();

  // Builds the first engine with `builder`; tests hand in fakes.
  explicit InstallMan(EngineBuilder builder = buildEngine);
  // Stops a worker that is still running, so no thread outlives the manager.
  ~InstallMan() override;
  InstallMan(const InstallMan&) = delete;
  InstallMan& operator=(const InstallMan&) = delete;

  // The first row whose flavour equals `key` byte for byte, or a row of empty strings.
  EndpointRow getEndpointRow(const std::string& key);

  // Runs the first-call parse of the command line: stores the options, derives
  // the map keys from --setup, takes --channel, and in flavour qv sends the
  // launch event. Later calls, on any instance, do nothing.
  void parseCommandLineOnce(const std::vector<std::wstring>& args);

  // Derives the map keys from the file name of the setup program the user downloaded.
  void setSetupPath(const std::wstring& path);

  // Assigned the product string before every endpoint lookup.
  std::string flavourKey;

  // ---- Map information and launch links ---------------------------------------
  // Asks the map service about the map this installer was handed out for and
  // fills the map fields; in flavour qv it then deselects the optional packages.
  void fetchMapInfo();
  // The argument text that starts the platform on the map; empty without a map.
  std::wstring buildLaunchArgs() const;
  // Start-up hand-over to the page: its language, and the background picture
  // when the map service gave one.
  std::wstring pageLanguage() const;
  std::optional<BackgroundImage> backgroundImage() const;
  // The map shortcut in `folder`, launching the map.
  void CreateCustomShortcut(const std::wstring& folder);

  std::wstring mapId;
  std::wstring mapDisplayName;
  std::wstring mapImageUrl;
  std::wstring mapIconUrl;
  bool isKestrixMap = false;
  bool isIndependent = false;

  // ---- Download workflow (called by the window on the UI thread) -------------
  void setWindowStateCallback(IDownloadStateCallBack* callback) { windowStateCallback = callback; }
  void setWindowTaskCallback(ITaskCallback* callback) { windowTaskCallback = callback; }
  // Starts the download worker for `folder`; a worker still running is stopped first.
  void startWorker(const std::wstring& folder);
  // Cancels the run and joins the worker; downloaded files stay on disk.
  void stopWorker();
  // The answer to a transfer interruption: the engine resumes, or, once the
  // aria2 engine has failed for good, a segmented downloader takes over.
  void reconnect(bool resume);
  // The page's answer to a failed check: retry downloads the damaged files again.
  void answerCheckFailure(bool retry);
  // Parallel transfers of the current engine (0 without one); the window's retry budget.
  std::int32_t GetTaskCount();

  // The page's choices for the platform setup.
  std::atomic<bool> createDesktopShortcut{true};
  std::atomic<bool> autoRun;
  // The file being handled is an editor package (the window picks its progress display by it).
  std::atomic<bool> downloadingPackage{false};
  // Extraction progress base.
  std::uint64_t unzipTotalBytes = 0;

  // ---- IDownloadCallBack (engine threads) ------------------------------------
  void OnTaskStart(const std::string& taskId) override;
  void OnProgress(std::int32_t percent, std::uint32_t bytesPerSecond, const std::string& path) override;
  void OnBytes(std::uint64_t bytes, const std::string& key) override;
  void OnFinished(const std::string& key) override;

  // ---- IDownloadStateCallBack (engine threads) -------------------------------
  void OnInterrupted() override;
  void OnReconnected() override;
  void OnRetry() override;
  void OnEngineFailed() override;

  // ---- Fetching documents: HTTP GET with a DNS-over-HTTP fallback (http_get.cpp) ----

  // One GET of at most 15 seconds; the body whatever the status, empty on failure.
  // When that yields nothing and `noFallback` is false, the URL's host is looked
  // up through the DNS-over-HTTP service and the request is made once more,
  // connecting to the address it gave.
  std::string httpGet(const std::string& url, const HttpHeaders& headers, bool noFallback);

  struct ResolvedHost {
    std::string address;  // empty when the service gave none
    std::string host;     // the URL's host name
  };
  // One address of the URL's host from the DNS-over-HTTP service (cached per URL);
  // a malformed answer makes it fetch the service's server list, once per manager.
  ResolvedHost resolveViaHttpDns(const std::string& url);

  // ---- The package configuration (package_config.cpp) ----

  // The platform descriptor's URL (command line first) or a package configuration's.
  std::string getConfigUrl(bool platform, bool alternate);
  // Loads the configuration once, then twice the selected download size (download plus extraction).
  std::uint64_t getTotalSize();
  void loadPlatformDescriptor(const std::string& text);
  void loadPackageConfig(bool alternate);
  // One complete entry for every configuration URL there is.
  bool isConfigValid();
  // Validates, assigns local paths in the folder that holds `installDir` (none
  // when it is empty), probes missing sizes and sums them into `totalBytes`.
  bool checkConfig(const std::wstring& installDir);

  // Alternate package, main package, platform setup, as far as each exists.
  std::vector<PackageEntry> entries;
  std::uint64_t totalBytes = 0;
  std::string platformVersion;
  std::wstring gameEngineVersion;

 private:
  // Replaces the engine by the one the engine index and the helper files call for.
  void createEngine();
  void runWorker(std::wstring folder);
  void runDownloadAndInstall(std::wstring folder);
  // Hands every file of `work` that is not on disk yet to the engine, one at a time.
  void downloadPass(const std::vector<PackageEntry>& work);
  // The entries of `work` whose files fail their check, each deleted from disk.
  std::vector<PackageEntry> verificationPass(const std::vector<PackageEntry>& work);
  // True when the page chose to retry; false when the run was cancelled.
  bool waitForDecision(const std::string& failedUrl);
  // Installs from the verified downloads (setup/installation_sequence.h) on the
  // installation thread, and waits for it.
  void runInstallation();

  void markDownloaded(const std::string& fileName);
  std::uint64_t doneBytesLocked() const;
  void reportDownloadProgress(std::uint64_t done, std::uint64_t bytesPerSecond);
  // Sets the cancel flag and wakes the worker from whichever wait it is in.
  void cancelAndWake();
  void joinWorker();
  void forwardToWindow(void (IDownloadStateCallBack::*call)());

  std::vector<EndpointRow> endpointTable;

  EngineBuilder engineBuilder;
  std::unique_ptr<IDownload> engine;
  EngineKind engineKind = EngineKind::Segmented;
  // 0 aria2, 1 library engine, 2 or more segmented downloader.
  std::atomic<std::int32_t> engineIndex{0};

  std::atomic<bool> cancelRequested{false};
  std::thread workerThread;
  std::wstring installDir;
  std::wstring installDirWithSlash;

  // One mutex serves both waits of the worker and both sides of each wait.
  // Every waker bumps `wakeups`; the decision wait also sees `decisionGiven`,
  // so an answer that comes before the worker waits is not lost.
  std::mutex downloadLock;
  std::condition_variable downloadDone;
  std::condition_variable decisionMade;
  std::uint64_t wakeups = 0;
  bool decisionGiven = false;

  // Guards isDownloaded of the entries and the progress samples.
  mutable std::mutex entriesLock;
  std::uint64_t lastReportBytes = 0;
  std::uint64_t lastReportTick = 0;  // 0: no sample taken yet

  std::atomic<IDownloadStateCallBack*> windowStateCallback{nullptr};
  std::atomic<ITaskCallback*> windowTaskCallback{nullptr};

  // The DNS-over-HTTP state, shared by the UI and worker threads.
  struct HttpDnsState {
    std::mutex lock;
    std::string server;  // the service's address; the build's until the server list replaces it
    std::unordered_map<std::string, std::vector<std::string>> cache;  // URL -> addresses
    bool hdServerFallbackUsed = false;
    std::mt19937 random{static_cast<std::mt19937::result_type>(std::time(nullptr))};
  } httpDns;

  std::string httpDnsServer();
  std::string pickAddress(const std::vector<std::string>& addresses);
  ResolvedHost resolveThroughServerList(const std::string& url);
};

}  // namespace kx
