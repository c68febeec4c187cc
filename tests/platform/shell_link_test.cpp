#include "platform/shell_link.h"

#include <gtest/gtest.h>

#include "common/strings.h"
#include "tests/support/test_server.h"
#include "tests/support/tools.h"

namespace kx::platform {
namespace {

namespace fs = std::filesystem;

TEST(ShellLink, LnkinfoReadsBackEveryString) {
  test::TempDir tempDir;
  const fs::path scratch{tempDir.path()};
  fs::create_directories(scratch / "games/2.0/game");
  test::writeWholeFile(scratch / "games/2.0/game/Editor.exe", "12345");
  const std::string target = (scratch / "games/2.0/game/Editor.exe").string();
  struct Case {
    ShellLink link;
    std::optional<std::string> description, arguments, icon;
  } cases[] = {
      {{fromUtf8(target), L"", L"", L"", 0}, {}, {}, {}},
      {{fromUtf8(target), L"Kestrix编辑器", L"--map \"Dragon Lair\" zzarenahq://x?d=1", L"/tmp/ico/4711.ico", 0},
       "Kestrix编辑器", "--map \"Dragon Lair\" zzarenahq://x?d=1", "/tmp/ico/4711.ico"},
      {{L"/opt/Ünïcödé folder/Launcher.exe", L"", L"a", L"", 0}, {}, "a", {}},
  };
  for (const auto& c : cases) {
    const auto link = scratch / "Kestrix编辑器 2.0.lnk";
    ASSERT_TRUE(writeShellLink(fromUtf8(link.string()), c.link));
    EXPECT_EQ(test::lnkInfoField(link, "Local path"), toUtf8(c.link.target));
    EXPECT_EQ(test::lnkInfoField(link, "Description"), c.description);
    EXPECT_EQ(test::lnkInfoField(link, "Command line arguments"), c.arguments);
    EXPECT_EQ(test::lnkInfoField(link, "Icon location"), c.icon);
  }
  // The header describes an existing target.
  ASSERT_TRUE(writeShellLink(fromUtf8((scratch / "e.lnk").string()), {fromUtf8(target), L"", L"", L"", 0}));
  EXPECT_EQ(test::lnkInfoField(scratch / "e.lnk", "File size"), "5 bytes");
}

TEST(ShellLink, RefusesWhatWindowsWouldRefuse) {
  test::TempDir tempDir;
  const fs::path scratch{tempDir.path()};
  const std::wstring folder = fromUtf8(scratch.string());
  const ShellLink link{L"/bin/true", L"", L"", L"", 0};
  EXPECT_FALSE(writeShellLink(folder + L"/a.lnk", {L"", L"", L"", L"", 0}));
  EXPECT_FALSE(writeShellLink(L"", link));
  EXPECT_FALSE(writeShellLink(folder + L"/missing/a.lnk", link));
  for (const wchar_t* name : {L"/B:C.lnk", L"/a*.lnk", L"/a?.lnk", L"/\"q\".lnk", L"/<a>.lnk", L"/a|b.lnk"})
    EXPECT_FALSE(writeShellLink(folder + name, link)) << toUtf8(name);
  EXPECT_TRUE(fs::is_empty(scratch));
  EXPECT_TRUE(writeShellLink(folder + L"/a.lnk", link));
  EXPECT_TRUE(writeShellLink(folder + L"/a.lnk", {L"/bin/false", L"", L"", L"", 0})) << "replaces";
  EXPECT_EQ(test::lnkInfoField(scratch / "a.lnk", "Local path"), "/bin/false");
}

}  // namespace
}  // namespace kx::platform
