#include "telemetry/tally_client.h"

#include <cstdio>

#include "common/build_config.h"
#include "common/strings.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/locations.h"
#include "platform/window_focus.h"
#include "telemetry/digest.h"

namespace kx::telemetry {

std::string sdkVersionText() {
  static const std::string text = [] {
    int part[4] = {0, 0, 0, 0};
    std::sscanf(fileVersion().c_str(), "%d.%d.%d.%d", &part[0], &part[1], &part[2], &part[3]);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%d.%d.%d.%d", part[0], part[1], part[2], part[3]);
    return std::string(buffer);
  }();
  return text;
}

TallyClient::TallyClient(TallyDependencies dependencies) : deps_(std::move(dependencies)) {
  if (!deps_.clock) deps_.clock = std::make_shared<SystemTallyClock>();
  if (!deps_.foreground) deps_.foreground = platform::processOwnsForeground;
  if (!deps_.deviceValues) deps_.deviceValues = gatherDeviceValues;
}

TallyClient::~TallyClient() {
  if (started_ && !exited_) AppExit();
  log_->close();
}

void TallyClient::AppLaunch(const std::wstring& appKey, const std::wstring& appVersion,
                            const std::wstring& appChannel) {
  {
    std::lock_guard guard(lifecycle_);
    if (exited_) return;
    if (!started_) {
      commonAppData_ = deps_.commonAppData ? *deps_.commonAppData : platform::commonAppDataFolder();
      log_->open(commonAppData_, appKey);
    }
    if (appKey.empty()) return;
    log_->write(L"AppLaunch() Appkey:%ls, AppVersion:%ls, AppChannel:%ls", appKey.c_str(), appVersion.c_str(),
                appChannel.c_str());
    if (!started_) {
      store_ = std::make_unique<TallyStore>(commonAppData_, appKey);
      const StateRecord state = store_->readState().value_or(StateRecord{});
      if (state.uploadCounter > 0) uploadCounter_ = state.uploadCounter;
      appInfo_.firstRunTime = state.firstRunTime;
      appInfo_.deviceId = state.deviceId;

      SessionSettings sessionSettings;
      sessionSettings.clock = deps_.clock;
      sessionSettings.timeOut = deps_.sessionTimeOut;
      sessionSettings.log = log_;
      sessionSettings.store = store_.get();
      sessionSettings.signalSend = [this] { events_->SignalSend(); };
      sessions_ = std::make_unique<CSessionMg>(std::move(sessionSettings));
      sessions_->loadCounters(state.sessionCounter, state.lastCloseTime);

      if (appInfo_.deviceId.size() != 40) {
        appInfo_.deviceId = deviceIdFrom(deps_.deviceValues().macAddress, static_cast<std::uint32_t>(platform::tickCount()));
        store_->updateState([id = appInfo_.deviceId](StateRecord& r) { r.deviceId = id; });
      }
      if (appInfo_.firstRunTime == 0) {
        appInfo_.firstRunTime = static_cast<std::uint32_t>(deps_.clock->now());
        store_->updateState([time = appInfo_.firstRunTime](StateRecord& r) { r.firstRunTime = time; });
      }
      appInfo_.appKey = appKey;
      appInfo_.appVersion = appVersion;
      appInfo_.appChannel = appChannel;
      appInfo_.sdkVersion = sdkVersionText();
      appInfo_.hashedAppKey = upperHex(sha1(platform::wideToFileSystem(appKey)));

      sender_ = std::make_shared<HttpSender>(deps_.collectorHost ? *deps_.collectorHost : hostName(HostRole::TELEMETRY));
      sender_->setIdentity(appInfo_.sdkVersion, appInfo_.hashedAppKey);
      EventCtrlSettings eventSettings;
      eventSettings.clock = deps_.clock;
      eventSettings.log = log_;
      eventSettings.sender = sender_;
      eventSettings.cipher = std::make_shared<PayloadCipher>(deps_.key ? *deps_.key : PayloadCipher::mixKey(telemetryKeyConstant()));
      eventSettings.foreground = deps_.foreground;
      eventSettings.pollInterval = deps_.pollInterval;
      events_ = std::make_unique<CEventCtrl>(std::move(eventSettings), *sessions_, [this] { return headerRecord(); });
      events_->setHistory(store_->takePayloads());
      events_->startWatch();
      started_ = true;
    }
  }
  TrackEvent(L"da_launch");
}

void TallyClient::TrackEvent(const std::wstring& eventId) { TrackEventEx(eventId, L"", L"", {}); }

void TallyClient::TrackEventEx(const std::wstring& eventId, const std::wstring& category, const std::wstring& label,
                               const TelemetryAttributes& attributes) {
  if (eventId.empty() || exited_ || !started_) return;
  TallyEvent event;
  event.eventId = eventId;
  event.category = category;
  event.label = label;
  event.occurTime = deps_.clock->now();
  event.attributes = attributes;
  sessions_->recordEvent(std::move(event));
}

void TallyClient::AppExit() {
  log_->write(L"AppExit() in");
  TrackEvent(L"da_exit");
  std::lock_guard guard(lifecycle_);
  if (started_) {
    // From here on events are dropped, so no session opens behind the last one.
    started_ = false;
    sender_->setShuttingDown(true);
    events_->stopWatch(deps_.watchStopWait);
    sessions_->closeCurrent();
    store_->savePayloads(events_->finishSending(deps_.sendStopWait));
  }
  exited_ = true;
  log_->write(L"AppExit() Exit");
}

std::string TallyClient::headerRecord() {
  HeaderRecord header;
  const std::int32_t number = uploadCounter_++;
  store_->updateState([next = number + 1](StateRecord& r) { r.uploadCounter = next; });
  header.uploadNum = number;
  header.uploadTime = static_cast<double>(deps_.clock->now());
  sender_->setUploadTime(static_cast<long long>(header.uploadTime));
  header.persistedTime = appInfo_.firstRunTime;
  header.appKey = appInfo_.appKey;
  header.appVersion = appInfo_.appVersion;
  header.appChannel = appInfo_.appChannel;
  header.sdkVersion = fromUtf8(appInfo_.sdkVersion);
  header.deviceUdid = fromUtf8(appInfo_.deviceId);
  header.device = deps_.deviceValues();
  return headerLine(header);
}

}  // namespace kx::telemetry
