#pragma once
// The telemetry client behind the four entry points: it starts once per
// process, groups events into sessions, sends them from a thread of its own
// and keeps what it could not send for the next run.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "telemetry/device_info.h"
#include "telemetry/event_ctrl.h"
#include "telemetry/payload_cipher.h"
#include "telemetry/tally_clock.h"
#include "telemetry/tally_log.h"
#include "telemetry/tally_sessions.h"
#include "telemetry/tally_store.h"
#include "telemetry/telemetry.h"

namespace kx::telemetry {

struct AppInfo {
  std::wstring appKey, appVersion, appChannel;
  std::uint32_t firstRunTime = 0;
  std::string deviceId;
  std::string sdkVersion;
  std::string hashedAppKey;  // SHA-1 of the key in the ANSI code page
};

// Where the client meets the machine; every member has the product's value
// unless a test sets it.
struct TallyDependencies {
  std::optional<std::filesystem::path> commonAppData;  // platform::commonAppDataFolder()
  std::optional<std::string> collectorHost;           // the build's telemetry host
  std::optional<PayloadKey> key;                      // mixed from the build's constant
  std::shared_ptr<TallyClock> clock;                  // the wall clock
  std::function<bool()> foreground;                   // platform::processOwnsForeground
  std::function<DeviceValues()> deviceValues;         // gatherDeviceValues
  std::chrono::milliseconds sessionTimeOut{120000};
  std::chrono::milliseconds pollInterval{1000};
  std::chrono::milliseconds watchStopWait{2000};
  std::chrono::milliseconds sendStopWait{5000};
};

// "%d.%d.%d.%d" of the build's file version.
std::string sdkVersionText();

class TallyClient {
 public:
  explicit TallyClient(TallyDependencies dependencies = {});
  // Ends a client that was never told to exit, then closes the log with its end banner.
  ~TallyClient();
  TallyClient(const TallyClient&) = delete;
  TallyClient& operator=(const TallyClient&) = delete;

  void AppLaunch(const std::wstring& appKey, const std::wstring& appVersion, const std::wstring& appChannel);
  void AppExit();
  void TrackEvent(const std::wstring& eventId);
  void TrackEventEx(const std::wstring& eventId, const std::wstring& category, const std::wstring& label,
                    const TelemetryAttributes& attributes);

  TallyLog& log() { return *log_; }
  const AppInfo& appInfo() const { return appInfo_; }

 private:
  std::string headerRecord();

  TallyDependencies deps_;
  std::filesystem::path commonAppData_;
  std::mutex lifecycle_;  // launch and exit
  std::atomic<bool> started_{false};
  std::atomic<bool> exited_{false};
  std::shared_ptr<TallyLog> log_ = std::make_shared<TallyLog>();
  std::shared_ptr<HttpSender> sender_;
  std::unique_ptr<TallyStore> store_;
  std::unique_ptr<CSessionMg> sessions_;
  std::unique_ptr<CEventCtrl> events_;
  AppInfo appInfo_;
  std::atomic<std::int32_t> uploadCounter_{1};
};

}  // namespace kx::telemetry
