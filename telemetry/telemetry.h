#pragma once
// The four calls through which the installer reports to the analytics service.
// Call sites test isQv first: in every other flavour none of them is made.
// No call reports failure or waits for the network (AppExit waits a few seconds at most).

#include <string>
#include <utility>
#include <vector>

namespace kx {

using TelemetryAttributes = std::vector<std::pair<std::wstring, std::wstring>>;

// Starts the client once per process and records "da_launch"; an empty key starts nothing.
void AppLaunch(const std::wstring& appKey, const std::wstring& appVersion, const std::wstring& channel);
// Records "da_exit", closes the session and sends or stores what is left; later calls are ignored.
void AppExit();
// Any thread; ignored when `eventId` is empty.
void TrackEvent(const std::wstring& eventId);
void TrackEventEx(const std::wstring& eventId, const std::wstring& category, const std::wstring& label,
                  const TelemetryAttributes& attributes);

}  // namespace kx
