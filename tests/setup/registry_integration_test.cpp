#include "setup/registry_integration.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "common/strings.h"
#include "flavour/flavour.h"
#include "platform/registry.h"
#include "tests/support/test_server.h"
#include "tests/support/tools.h"

namespace kx {
namespace {

namespace fs = std::filesystem;
using platform::RegistryKey;
using platform::RegistryResult;
using platform::RegistryRoot;

const std::wstring kRun = L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";

class RegistryIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::permissions(scratch, fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
    setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);
    setenv("KX_MACHINE_ROOT", (scratch / "machine").c_str(), 1);
  }
  static std::optional<std::wstring> value(RegistryRoot root, const std::wstring& key, const std::wstring& name) {
    RegistryKey k;
    std::wstring data;
    if (RegistryKey::open(root, key, platform::kKeyRead, k) != RegistryResult::Ok ||
        k.queryString(name, 4096, data) != RegistryResult::Ok)
      return std::nullopt;
    return data;
  }
  test::TempDir tempDir;
  const fs::path scratch{tempDir.path()};
};

TEST_F(RegistryIntegration, UrlSchemeRowsAreExact) {
  RegisterUrlProtocol(L"kestrixeditor", L"", L"/opt/games/2.0/game/Editor.exe");
  const auto hkcr = RegistryRoot::ClassesRoot;
  EXPECT_EQ(value(hkcr, L"kestrixeditor", L""), L"");
  EXPECT_EQ(value(hkcr, L"kestrixeditor", L"URL Protocol"), L"/opt/games/2.0/game/Editor.exe");
  EXPECT_EQ(value(hkcr, L"kestrixeditor\\DefaultIcon", L""), L"/opt/games/2.0/game/Editor.exe");
  EXPECT_EQ(value(hkcr, L"kestrixeditor\\shell\\open\\command", L""), L"/opt/games/2.0/game/Editor.exe \"%1\"");
}

TEST_F(RegistryIntegration, EditorAndPlatformRunValuesShareThe32BitRunKey) {
  const std::wstring name = editorRunValueName("2.0");
  SetAutoRunValue(name, L"/opt/games/2.0/game/Editor.exe");
  WritePlatformRunValue(true, L"Emberhold", L"\"/opt/Launcher.exe\" zzarenahq://x");
  EXPECT_EQ(value(RegistryRoot::LocalMachine, kRun, name), L"/opt/games/2.0/game/Editor.exe");
  EXPECT_EQ(value(RegistryRoot::LocalMachine, kRun, L"Emberhold"), L"\"/opt/Launcher.exe\" zzarenahq://x");

  DeleteAutoRunValue(name);
  DeleteAutoRunValue(name);  // deleting what is not there is harmless
  WritePlatformRunValue(false, L"Never Set", L"");
  WritePlatformRunValue(false, L"Emberhold", L"");
  EXPECT_EQ(value(RegistryRoot::LocalMachine, kRun, name), std::nullopt);
  EXPECT_EQ(value(RegistryRoot::LocalMachine, kRun, L"Emberhold"), std::nullopt);
}

TEST_F(RegistryIntegration, EditorPathKeyIsFoundWhileTheEditorExists) {
  const auto root = scratch / "Kestrix Games";
  fs::create_directories(root / "games/2.0/game");
  test::writeWholeFile(root / "games/2.0/game/Editor.exe", "x");
  const std::wstring rootWithSlash = fromUtf8(root.string()) + L"/";

  const auto before = std::chrono::system_clock::now();
  WriteEditorPathKey("2.0", rootWithSlash);
  const auto after = std::chrono::system_clock::now();
  const std::wstring key = L"SOFTWARE\\Marrowin\\KestrixEditor\\2.0";
  EXPECT_EQ(value(RegistryRoot::CurrentUser, key, L"EditorPath"), rootWithSlash);
  const auto stamp = std::stoll(value(RegistryRoot::CurrentUser, key, L"UpdateTime").value_or(L"0"));
  using std::chrono::seconds;
  EXPECT_GE(stamp, std::chrono::duration_cast<seconds>(before.time_since_epoch()).count());
  EXPECT_LE(stamp, std::chrono::duration_cast<seconds>(after.time_since_epoch()).count());

  std::wstring found = L"unchanged";
  EXPECT_FALSE(FindInstalledEditor("1.0", found));
  EXPECT_EQ(found, L"unchanged");
  ASSERT_TRUE(FindInstalledEditor("2.0", found)) << "the sequence writes games\\, the lookup asks for Games\\";
  EXPECT_EQ(found, rootWithSlash);
  fs::remove(root / "games/2.0/game/Editor.exe");
  found = L"unchanged";
  EXPECT_FALSE(FindInstalledEditor("2.0", found));
  EXPECT_EQ(found, L"unchanged");
}

TEST_F(RegistryIntegration, UninstallStringGivesTheUninstallerFolder) {
  const std::wstring key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  const struct {
    const wchar_t* name;
    const wchar_t* uninstallString;
    const wchar_t* folder;
  } cases[] = {
      {L"Plain", L"C:\\P\\uninst.exe", L"C:\\P"},
      {L"Quoted", L"\"C:\\Program Files\\Lumlum\\uninst.exe\" /S", L"C:\\Program Files\\Lumlum"},
      {L"Native", L"/opt/lumlum/uninst.exe", L"/opt/lumlum"},
      {L"Bare", L"uninst.exe", L""},
  };
  for (const auto& c : cases) {
    platform::setRegistryString(RegistryRoot::LocalMachine, key + c.name, L"UninstallString", c.uninstallString);
    EXPECT_EQ(FindUninstallFolder(c.name), c.folder) << toUtf8(c.name);
  }
  EXPECT_EQ(FindUninstallFolder(L"Missing"), L"");
}

TEST_F(RegistryIntegration, MachineWritesFailSilentlyWithoutAdministratorRights) {
  SetAutoRunValue(L"KestrixEditor2.0", L"/old");
  fs::create_directories(scratch / "home");
  chown((scratch / "home").c_str(), 65534, 65534);
  setenv("XDG_CONFIG_HOME", (scratch / "home").c_str(), 1);
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
    SetAutoRunValue(L"KestrixEditor2.0", L"/new");
    DeleteAutoRunValue(L"KestrixEditor2.0");
    RegisterUrlProtocol(L"kestrixeditor", L"", L"/new");
    WriteEditorPathKey("2.0", L"/user/folder/");
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(value(RegistryRoot::LocalMachine, kRun, L"KestrixEditor2.0"), L"/old");
  EXPECT_EQ(value(RegistryRoot::ClassesRoot, L"kestrixeditor", L"URL Protocol"), std::nullopt);
  EXPECT_EQ(value(RegistryRoot::CurrentUser, L"SOFTWARE\\Marrowin\\KestrixEditor\\2.0", L"EditorPath"),
            L"/user/folder/")
      << "the user's own key is written";
}

TEST(RegistryNames, FollowTheFlavour) {
  const bool na = flavourNameIs(productFlavour, "kestrixna");
  EXPECT_EQ(editorRunValueName("2.0"), na ? L"Lumlum Editor2.0" : L"KestrixEditor2.0");
  EXPECT_EQ(editorRunValueName(""), na ? L"Lumlum Editor1.0" : L"KestrixEditor1.0");
  EXPECT_EQ(editorUrlScheme(), na ? L"lumlumeditor" : L"kestrixeditor");
  EXPECT_EQ(platformRunValueName(L"Emberhold", false), L"Emberhold");
  EXPECT_EQ(platformRunValueName(L"", true), L"Lumlum Platform");
  EXPECT_EQ(platformRunValueName(L"", false), L"Lumlum Editor");
  EXPECT_EQ(platformRunCommand(L"/opt/Launcher.exe", L""), L"/opt/Launcher.exe");
  EXPECT_EQ(platformRunCommand(L"/opt/Launcher.exe", L"zzarenahq://a"), L"\"/opt/Launcher.exe\" zzarenahq://a");
}

}  // namespace
}  // namespace kx
