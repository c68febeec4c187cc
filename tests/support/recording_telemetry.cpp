#include "tests/support/recording_telemetry.h"

#include <mutex>

namespace kx {

namespace {

std::mutex lock;
std::vector<test::TelemetryCall> calls;

void record(test::TelemetryCall call) {
  std::lock_guard guard(lock);
  calls.push_back(std::move(call));
}

}  // namespace

void AppLaunch(const std::wstring& appKey, const std::wstring& appVersion, const std::wstring& channel) {
  record({"AppLaunch", {appKey, appVersion, channel}, {}});
}
void AppExit() { record({"AppExit", {}, {}}); }
void TrackEvent(const std::wstring& eventId) { record({"TrackEvent", {eventId}, {}}); }
void TrackEventEx(const std::wstring& eventId, const std::wstring& category, const std::wstring& label,
                  const TelemetryAttributes& attributes) {
  record({"TrackEventEx", {eventId, category, label}, attributes});
}

namespace test {

std::vector<TelemetryCall> telemetryCalls() {
  std::lock_guard guard(lock);
  return calls;
}

void clearTelemetryCalls() {
  std::lock_guard guard(lock);
  calls.clear();
}

}  // namespace test
}  // namespace kx
