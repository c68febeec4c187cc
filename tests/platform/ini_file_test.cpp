// Settings files in the INI form, as the platform writes them.
#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include "common/strings.h"
#include "tests/support/test_server.h"
#include "tests/support/tools.h"

namespace kx::platform {
namespace {

TEST(IniFile, ValuesAreFoundWhateverTheCaseSpacingQuotesAndEncoding) {
  test::TempDir scratch;
  const std::string utf8 =
      "; comment\n[Other]\nExePath=/wrong\n[ kestrixgame ]\r\n  exepath =  \"D:\\Games\\编辑器\\Editor.exe\"  \r\n";
  std::string utf16 = "\xFF\xFE";
  for (const wchar_t c : fromUtf8("[KestrixGame]\r\nExePath=/opt/编辑器\r\n")) {
    utf16 += static_cast<char>(c & 0xFF);
    utf16 += static_cast<char>(c >> 8);
  }
  test::writeWholeFile(scratch.file("utf8.ini"), utf8);
  test::writeWholeFile(scratch.file("utf16.ini"), utf16);
  const auto read = [&](const char* file, const wchar_t* section, const wchar_t* key, std::size_t capacity = 260) {
    return readIniString(fromUtf8(scratch.file(file)), section, key, L"none", capacity);
  };
  EXPECT_EQ(read("utf8.ini", L"KestrixGame", L"ExePath"), L"D:\\Games\\编辑器\\Editor.exe");
  EXPECT_EQ(read("utf16.ini", L"KestrixGame", L"ExePath"), L"/opt/编辑器");
  EXPECT_EQ(read("utf8.ini", L"KestrixGame", L"ExePath", 4), L"D:\\");
  EXPECT_EQ(read("utf8.ini", L"KestrixGame", L"Missing"), L"none");
  EXPECT_EQ(read("utf8.ini", L"Missing", L"ExePath"), L"none");
  EXPECT_EQ(read("absent.ini", L"KestrixGame", L"ExePath"), L"none");
}

}  // namespace
}  // namespace kx::platform
