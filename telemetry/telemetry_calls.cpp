// Entry points of the telemetry: one client for the process, made on first use
// and ended (its log closed) when the process ends.
#include "telemetry/tally_client.h"
#include "telemetry/telemetry.h"

namespace kx {

namespace {

telemetry::TallyClient& client() {
  static telemetry::TallyClient instance;
  return instance;
}

}  // namespace

void AppLaunch(const std::wstring& appKey, const std::wstring& appVersion, const std::wstring& channel) {
  client().AppLaunch(appKey, appVersion, channel);
}
void AppExit() { client().AppExit(); }
void TrackEvent(const std::wstring& eventId) { client().TrackEvent(eventId); }
void TrackEventEx(const std::wstring& eventId, const std::wstring& category, const std::wstring& label,
                  const TelemetryAttributes& attributes) {
  client().TrackEventEx(eventId, category, label, attributes);
}

}  // namespace kx
