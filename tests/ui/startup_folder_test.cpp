#include "ui/startup_folder.h"

#include <gtest/gtest.h>

namespace kx::ui {
namespace {

TEST(StartupFolder, DropsTheLastComponentAndItsSeparators) {
  struct Case {
    const wchar_t* program;
    const wchar_t* folder;
  } cases[] = {
      {L"/opt/kestrix/bin/KestrixSetup", L"/opt/kestrix/bin"},
      {L"build/bin/KestrixSetup", L"build/bin"},
      {L"./KestrixSetup", L"."},
      {L"/opt//bin///KestrixSetup", L"/opt//bin"},
      {L"C:\\Users\\me\\Downloads\\KestrixSetup.exe", L"C:\\Users\\me\\Downloads"},
      {L"C:/Users/me\\KestrixSetup.exe", L"C:/Users/me"},
      {L"/KestrixSetup", L"/"},
      {L"//KestrixSetup", L"/"},
      {L"C:\\KestrixSetup.exe", L"C:\\"},
      {L"C:\\\\KestrixSetup.exe", L"C:\\"},
      {L"KestrixSetup", L""},
      {L"KestrixSetup.exe", L""},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(startupFolder(c.program), c.folder) << c.program;
}

}  // namespace
}  // namespace kx::ui
