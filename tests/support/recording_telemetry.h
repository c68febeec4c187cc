#pragma once
// Test executables link this recorder in place of the telemetry client, so a
// test can see exactly which telemetry calls were made.

#include <string>
#include <vector>

#include "telemetry/telemetry.h"

namespace kx::test {

struct TelemetryCall {
  std::string call;  // "AppLaunch", "AppExit", "TrackEvent" or "TrackEventEx"
  std::vector<std::wstring> arguments;
  TelemetryAttributes attributes;
};

std::vector<TelemetryCall> telemetryCalls();
void clearTelemetryCalls();

}  // namespace kx::test
