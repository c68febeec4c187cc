#include <gtest/gtest.h>

#include "common/strings.h"
#include "platform/codepage.h"

namespace kx {
namespace {

TEST(Utf8Conversion, RoundTripsNonAsciiAndAstralCharacters) {
  const std::wstring samples[] = {
      L"", L"plain", L"Kestrix编辑器下载器", L"Ünïcödé", std::wstring(1, static_cast<wchar_t>(0x1F600)) + L"x",
      std::wstring(1, static_cast<wchar_t>(0x10FFFF)), std::wstring(1, static_cast<wchar_t>(0xFFFF))};
  for (const auto& wide : samples) EXPECT_EQ(fromUtf8(toUtf8(wide)), wide);
}

TEST(Utf8Conversion, EncodesEachLengthExactly) {
  EXPECT_EQ(toUtf8(L"A"), "A");
  EXPECT_EQ(toUtf8(L"\u00E9"), "\xC3\xA9");
  EXPECT_EQ(toUtf8(L"\u7F16"), "\xE7\xBC\x96");
  EXPECT_EQ(toUtf8(std::wstring(1, static_cast<wchar_t>(0x1F600))), "\xF0\x9F\x98\x80");
  EXPECT_EQ(fromUtf8("\xF0\x9F\x98\x80"), std::wstring(1, static_cast<wchar_t>(0x1F600)));
}

TEST(Utf8Conversion, BrokenInputBecomesReplacementCharacters) {
  const std::wstring replacement(1, static_cast<wchar_t>(0xFFFD));
  EXPECT_EQ(fromUtf8("a\xFF" "b"), L"a" + replacement + L"b");
  EXPECT_EQ(fromUtf8("\xE7\xBC"), replacement);          // truncated sequence
  EXPECT_EQ(fromUtf8("\xC0\xAF"), replacement);          // overlong "/"
  EXPECT_EQ(fromUtf8("\xED\xA0\x80"), replacement);      // encoded surrogate
  EXPECT_EQ(toUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(CodePage936, ConvertsChineseBothWaysAndMarksWhatItCannotHold) {
  EXPECT_EQ(platform::wideToCp936(L"2.0\u4E2D\u6587"), "2.0\xD6\xD0\xCE\xC4");
  EXPECT_EQ(platform::cp936ToWide("2.0\xD6\xD0\xCE\xC4"), L"2.0\u4E2D\u6587");
  EXPECT_EQ(platform::wideToCp936(std::wstring(L"a") + static_cast<wchar_t>(0x1F600) + L"b"), "a?b");
}

TEST(FileSystemCodePage, RoundTripsUtf8Names) {
  const std::wstring name = L"/tmp/Kestrix编辑器/Ünï";
  EXPECT_EQ(platform::fileSystemToWide(platform::wideToFileSystem(name)), name);
}

}  // namespace
}  // namespace kx
