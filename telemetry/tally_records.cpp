#include "telemetry/tally_records.h"

#include <cstdio>

#include "platform/codepage.h"

namespace kx::telemetry {

std::string jsonString(std::string_view bytes) {
  std::string out = "\"";
  for (const char c : bytes) {
    switch (c) {
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '"': out += "\\\""; break;
      case '/': out += "\\/"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out + "\"";
}

std::string jsonNumber(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.20g", value);
  return text;
}

void JsonObjectWriter::name(std::string_view member) {
  if (text_.size() > 1) text_ += ',';
  text_ += jsonString(member);
  text_ += ':';
}

JsonObjectWriter& JsonObjectWriter::string(std::string_view member, const std::wstring& value) {
  name(member);
  text_ += jsonString(platform::wideToFileSystem(value));
  return *this;
}

JsonObjectWriter& JsonObjectWriter::number(std::string_view member, double value) {
  name(member);
  text_ += jsonNumber(value);
  return *this;
}

JsonObjectWriter& JsonObjectWriter::raw(std::string_view member, std::string_view json) {
  name(member);
  text_ += json;
  return *this;
}

std::string headerLine(const HeaderRecord& h) {
  return JsonObjectWriter()
             .string("dataType", L"h")
             .number("uploadNum", h.uploadNum)
             .number("uploadTime", h.uploadTime)
             .number("persistedTime", h.persistedTime)
             .string("appKey", h.appKey)
             .string("appVersion", h.appVersion)
             .string("appChannel", h.appChannel)
             .string("sdkVersion", h.sdkVersion)
             .string("deviceUdid", h.deviceUdid)
             .string("deviceAdid", L"")
             .string("devicePlatform", L"Windows")
             .string("deviceOs", h.device.os)
             .string("deviceOsVersion", h.device.osVersion)
             .string("deviceModel", h.device.model)
             .string("deviceMacAddr", h.device.macAddress)
             .string("deviceResolution", h.device.resolution)
             .string("deviceCarrier", L"")
             .string("deviceNetwork", L"")
             .string("localeLanguage", h.device.localeLanguage)
             .string("localeCountry", h.device.localeCountry)
             .text() +
         "\n";
}

std::string sessionLines(const SessionRecord& s) {
  std::string lines;
  if (s.status > 0) {
    lines += JsonObjectWriter()
                 .string("dataType", L"s")
                 .string("sessionUuid", s.uuid)
                 .number("sessionStartTime", static_cast<double>(s.startTime))
                 .number("sessionNum", s.number)
                 .number("sessionInterval", static_cast<double>(s.interval))
                 .number("latitude", 0)
                 .number("longitude", 0)
                 .text() +
             "\n";
  }
  if (s.status >= 1 && s.events) {
    for (const TallyEvent& e : *s.events) {
      JsonObjectWriter event;
      event.string("dataType", L"e")
          .string("sessionUuid", s.uuid)
          .string("eventId", e.eventId)
          .string("category", e.category)
          .string("label", e.label)
          .number("occurTime", static_cast<double>(e.occurTime))
          .number("costTime", static_cast<double>(e.costTime))
          .string("userId", e.userId)
          .number("latitude", 0)
          .number("longitude", 0);
      if (!e.attributes.empty()) {
        JsonObjectWriter attributes;
        for (const auto& [key, value] : e.attributes) attributes.string(platform::wideToFileSystem(key), value);
        event.raw("attributes", attributes.text());
      }
      lines += event.text() + "\n";
    }
  }
  if (s.status > 2) {
    lines += JsonObjectWriter()
                 .string("dataType", L"c")
                 .string("sessionUuid", s.uuid)
                 .number("sessionStartTime", static_cast<double>(s.startTime))
                 .number("sessionCloseTime", static_cast<double>(s.closeTime))
                 .number("sessionTotalLength", static_cast<double>(s.closeTime - s.startTime))
                 .string("userId", s.userId)
                 .number("latitude", 0)
                 .number("longitude", 0)
                 .text() +
             "\n";
  }
  return lines;
}

}  // namespace kx::telemetry
