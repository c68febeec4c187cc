#pragma once
// The line-delimited JSON records the collection service reads: a header
// (h), the session start (s), one line per event (e) and the session close (c).
// Strings go out in the ANSI code page, byte for byte, with only the escapes
// the service's reader knows; numbers with 20 significant digits.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "telemetry/device_info.h"
#include "telemetry/telemetry.h"

namespace kx::telemetry {

// One object, members in the order they are added, without whitespace.
class JsonObjectWriter {
 public:
  JsonObjectWriter& string(std::string_view name, const std::wstring& value);
  JsonObjectWriter& number(std::string_view name, double value);
  // A member whose value is already JSON text.
  JsonObjectWriter& raw(std::string_view name, std::string_view json);
  std::string text() const { return text_ + "}"; }

 private:
  void name(std::string_view member);
  std::string text_ = "{";
};

// The quoted form of `bytes`: \b \f \n \r \t \" \/ \\ and nothing else escaped.
std::string jsonString(std::string_view bytes);
// "%.20g": whole numbers print as integers.
std::string jsonNumber(double value);

struct HeaderRecord {
  double uploadNum = 0;
  double uploadTime = 0;
  double persistedTime = 0;
  std::wstring appKey, appVersion, appChannel;
  std::wstring sdkVersion, deviceUdid;
  DeviceValues device;
};

struct TallyEvent {
  std::wstring eventId, category, label;
  std::int64_t occurTime = 0;
  std::int64_t costTime = 0;
  std::wstring userId;
  TelemetryAttributes attributes;
};

struct SessionRecord {
  int status = 0;
  std::wstring uuid;
  std::uint32_t number = 0;
  std::int64_t startTime = 0, interval = 0, closeTime = 0;
  std::wstring userId;
  const std::vector<TallyEvent>* events = nullptr;
};

std::string headerLine(const HeaderRecord& header);
// The s, e and c lines a session of this status has, each ending in a newline.
std::string sessionLines(const SessionRecord& session);

}  // namespace kx::telemetry
