// The record writer: its escapes, its numbers and which lines a session's
// status gives.
#include <gtest/gtest.h>

#include "telemetry/tally_records.h"

namespace kx::test {
namespace {

using namespace telemetry;

TEST(JsonWriterTest, OnlyTheListedEscapes) {
  struct Case {
    std::string in, out;
  } cases[] = {{"plain", "\"plain\""},
               {"a/b", "\"a\\/b\""},
               {"q\"b\\", "\"q\\\"b\\\\\""},
               {"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
               {std::string("\x01\x1f", 2), std::string("\"\x01\x1f\"", 4)},
               {"\xE4\xB8\xAD", "\"\xE4\xB8\xAD\""}};
  for (const auto& c : cases) EXPECT_EQ(jsonString(c.in), c.out) << c.in;
}

TEST(JsonWriterTest, NumbersWithTwentySignificantDigits) {
  struct Case {
    double in;
    const char* out;
  } cases[] = {{0, "0"}, {1700000000, "1700000000"}, {-120, "-120"}, {0.5, "0.5"}, {4294967296.0, "4294967296"}};
  for (const auto& c : cases) EXPECT_EQ(jsonNumber(c.in), c.out);
  EXPECT_EQ(JsonObjectWriter().text(), "{}");
}

TEST(SessionLinesTest, TheStatusDecidesWhichLinesAreWritten) {
  std::vector<TallyEvent> events(1);
  events[0].eventId = L"da_launch";
  events[0].occurTime = 1700000005;
  events[0].attributes = {{L"url", L"http://h/p"}, {L"n", L"1"}};
  SessionRecord session;
  session.uuid = L"U";
  session.number = 2;
  session.startTime = 1700000000;
  session.interval = 30;
  session.closeTime = 1700000130;
  session.events = &events;

  session.status = 0;
  EXPECT_EQ(sessionLines(session), "");
  session.status = 3;
  EXPECT_EQ(sessionLines(session),
            R"({"dataType":"s","sessionUuid":"U","sessionStartTime":1700000000,"sessionNum":2,"sessionInterval":30,"latitude":0,"longitude":0})"
            "\n"
            R"({"dataType":"e","sessionUuid":"U","eventId":"da_launch","category":"","label":"","occurTime":1700000005,"costTime":0,"userId":"","latitude":0,"longitude":0,"attributes":{"url":"http:\/\/h\/p","n":"1"}})"
            "\n"
            R"({"dataType":"c","sessionUuid":"U","sessionStartTime":1700000000,"sessionCloseTime":1700000130,"sessionTotalLength":130,"userId":"","latitude":0,"longitude":0})"
            "\n");
  for (const int status : {1, 2}) {
    const std::string lines = sessionLines([&] {
      SessionRecord s = session;
      s.status = status;
      return s;
    }());
    EXPECT_NE(lines.find("\"dataType\":\"e\""), std::string::npos) << status;
    EXPECT_EQ(lines.find("\"dataType\":\"c\""), std::string::npos) << status;
  }
  events[0].attributes.clear();
  EXPECT_EQ(sessionLines(session).find("attributes"), std::string::npos) << "no attributes, no member";
}

TEST(HeaderLineTest, MembersInOrder) {
  HeaderRecord h;
  h.uploadNum = 3;
  h.uploadTime = 1700000200;
  h.persistedTime = 1600000000;
  h.appKey = L"K";
  h.appVersion = L"1.0.8";
  h.appChannel = L"official";
  h.sdkVersion = L"7.6.5.4";
  h.deviceUdid = L"ID";
  h.device = {L"OS", L"6.1.0", L"Desktop", L"0A:1B:2C:3D:4E:5F", L"1920x1080", L"English", L"United States"};
  EXPECT_EQ(headerLine(h),
            R"({"dataType":"h","uploadNum":3,"uploadTime":1700000200,"persistedTime":1600000000,"appKey":"K","appVersion":"1.0.8","appChannel":"official","sdkVersion":"7.6.5.4","deviceUdid":"ID","deviceAdid":"","devicePlatform":"Windows","deviceOs":"OS","deviceOsVersion":"6.1.0","deviceModel":"Desktop","deviceMacAddr":"0A:1B:2C:3D:4E:5F","deviceResolution":"1920x1080","deviceCarrier":"","deviceNetwork":"","localeLanguage":"English","localeCountry":"United States"})"
            "\n");
}

}  // namespace
}  // namespace kx::test
