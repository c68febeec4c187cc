// Entry points of the telemetry. The client that records and sends events is
// not part of this build yet, so every call is accepted and dropped.
#include "telemetry/telemetry.h"

namespace kx {

void AppLaunch(const std::wstring&, const std::wstring&, const std::wstring&) {}
void AppExit() {}
void TrackEvent(const std::wstring&) {}
void TrackEventEx(const std::wstring&, const std::wstring&, const std::wstring&, const TelemetryAttributes&) {}

}  // namespace kx
