#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "tests/support/test_server.h"
#include "tests/support/tools.h"

namespace kx::platform {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::permissions(scratch, fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
    setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);
    setenv("KX_MACHINE_ROOT", (scratch / "machine").c_str(), 1);
  }

  static std::wstring query(RegistryRoot root, const std::wstring& key, const std::wstring& name) {
    RegistryKey k;
    std::wstring data = L"<none>";
    if (RegistryKey::open(root, key, kKeyRead, k) == RegistryResult::Ok) k.queryString(name, 4096, data);
    return data;
  }

  // Runs `body` in a child process and returns its exit status.
  static int inChild(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  test::TempDir tempDir;
  const fs::path scratch{tempDir.path()};
};

TEST_F(Registry, NamesIgnoreCaseAndTheEmptyNameIsTheDefaultValue) {
  ASSERT_EQ(setRegistryString(RegistryRoot::CurrentUser, L"SOFTWARE\\Marrowin\\KestrixEditor\\2.0", L"EditorPath",
                              L"/opt/games/"),
            RegistryResult::Ok);
  ASSERT_EQ(setRegistryString(RegistryRoot::CurrentUser, L"software\\MARROWIN\\kestrixeditor\\2.0", L"editorpath",
                              L"/srv/other/"),
            RegistryResult::Ok);
  ASSERT_EQ(setRegistryString(RegistryRoot::ClassesRoot, L"kestrixeditor", L"", L"default"), RegistryResult::Ok);

  EXPECT_EQ(query(RegistryRoot::CurrentUser, L"Software\\Marrowin\\KestrixEditor\\2.0", L"EDITORPATH"), L"/srv/other/");
  EXPECT_EQ(query(RegistryRoot::ClassesRoot, L"KestrixEditor", L""), L"default");
  EXPECT_EQ(query(RegistryRoot::ClassesRoot, L"KestrixEditor", L"URL Protocol"), L"<none>");
  // A parent of a created key exists; an unrelated key does not.
  RegistryKey key;
  EXPECT_EQ(RegistryKey::open(RegistryRoot::CurrentUser, L"SOFTWARE\\Marrowin", kKeyRead, key), RegistryResult::Ok);
  EXPECT_EQ(RegistryKey::open(RegistryRoot::CurrentUser, L"SOFTWARE\\Marrow", kKeyRead, key), RegistryResult::NotFound);
  // One key, stored once, in a file a person can read.
  const std::string text = test::readWholeFile(scratch / "config/kestrix/registry/HKEY_CURRENT_USER.json");
  EXPECT_NE(text.find("\"SOFTWARE\\\\Marrowin\\\\KestrixEditor\\\\2.0\": {\n    \"EditorPath\": \"/srv/other/\""),
            std::string::npos)
      << text;
}

TEST_F(Registry, MachineSoftwareKeysAreThe32BitView) {
  RegistryKey run;
  ASSERT_EQ(RegistryKey::open(RegistryRoot::LocalMachine, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
                              kKeyAllAccess, run),
            RegistryResult::Ok)
      << "the Run key exists on every system";
  ASSERT_EQ(run.setString(L"Lumlum Platform", L"/opt/Launcher.exe"), RegistryResult::Ok);
  EXPECT_EQ(query(RegistryRoot::LocalMachine, L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Run",
                  L"lumlum platform"),
            L"/opt/Launcher.exe");
  const std::string text = test::readWholeFile(scratch / "machine/registry/HKEY_LOCAL_MACHINE.json");
  EXPECT_NE(text.find("SOFTWARE\\\\WOW6432Node\\\\Microsoft"), std::string::npos) << text;
  // The user's SOFTWARE is not redirected.
  setRegistryString(RegistryRoot::CurrentUser, L"SOFTWARE\\X", L"v", L"1");
  EXPECT_EQ(query(RegistryRoot::CurrentUser, L"SOFTWARE\\WOW6432Node\\X", L"v"), L"<none>");
}

TEST_F(Registry, QueryHonoursTheBufferAndDeleteRemovesOnlyTheValue) {
  RegistryKey key;
  ASSERT_EQ(RegistryKey::create(RegistryRoot::CurrentUser, L"K", key), RegistryResult::Ok);
  key.setString(L"a", std::wstring(9, L'x'));  // 20 bytes with its NUL
  key.setString(L"b", L"keep");
  std::wstring data;
  EXPECT_EQ(key.queryString(L"a", 19, data), RegistryResult::MoreData);
  EXPECT_EQ(key.queryString(L"a", 20, data), RegistryResult::Ok);
  EXPECT_EQ(data, std::wstring(9, L'x'));
  EXPECT_EQ(key.deleteValue(L"A"), RegistryResult::Ok);
  EXPECT_EQ(key.deleteValue(L"a"), RegistryResult::NotFound);
  EXPECT_EQ(key.queryString(L"a", 4096, data), RegistryResult::NotFound);
  EXPECT_EQ(query(RegistryRoot::CurrentUser, L"K", L"b"), L"keep");

  RegistryKey readOnly;
  ASSERT_EQ(RegistryKey::open(RegistryRoot::CurrentUser, L"K", kKeyRead, readOnly), RegistryResult::Ok);
  EXPECT_EQ(readOnly.setString(L"b", L"changed"), RegistryResult::AccessDenied);
}

TEST_F(Registry, MachineRootsNeedAdministratorRights) {
  // The machine store exists (made by root); an ordinary user may read it only.
  ASSERT_EQ(setRegistryString(RegistryRoot::LocalMachine, L"SOFTWARE\\Vendor", L"v", L"root"), RegistryResult::Ok);
  ASSERT_EQ(setRegistryString(RegistryRoot::ClassesRoot, L"scheme", L"", L"root"), RegistryResult::Ok);
  fs::create_directories(scratch / "home");
  ASSERT_EQ(chown((scratch / "home").c_str(), kNobody, kNobody), 0);
  setenv("XDG_CONFIG_HOME", (scratch / "home").c_str(), 1);

  const int status = inChild([&] {
    if (setgid(kNobody) != 0 || setuid(kNobody) != 0) return 10;
    RegistryKey key;
    if (RegistryKey::open(RegistryRoot::LocalMachine, L"SOFTWARE\\Vendor", kKeyAllAccess, key) !=
        RegistryResult::AccessDenied)
      return 1;
    if (setRegistryString(RegistryRoot::LocalMachine, L"SOFTWARE\\Vendor", L"v", L"user") != RegistryResult::AccessDenied)
      return 2;
    if (setRegistryString(RegistryRoot::ClassesRoot, L"scheme", L"", L"user") != RegistryResult::AccessDenied) return 3;
    if (query(RegistryRoot::LocalMachine, L"SOFTWARE\\Vendor", L"v") != L"root") return 4;
    if (setRegistryString(RegistryRoot::CurrentUser, L"SOFTWARE\\Mine", L"v", L"user") != RegistryResult::Ok) return 5;
    return 0;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(query(RegistryRoot::LocalMachine, L"SOFTWARE\\Vendor", L"v"), L"root");
}

TEST_F(Registry, ConcurrentWritersLoseNothing) {
  constexpr int kWriters = 4, kValues = 25;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = fork();
    if (pid == 0) {
      for (int i = 0; i < kValues; ++i)
        if (setRegistryString(RegistryRoot::LocalMachine, L"SOFTWARE\\Shared",
                              L"w" + std::to_wstring(w) + L"v" + std::to_wstring(i), std::to_wstring(i)) !=
            RegistryResult::Ok)
          _exit(1);
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int w = 0; w < kWriters; ++w)
    for (int i = 0; i < kValues; ++i)
      EXPECT_EQ(query(RegistryRoot::LocalMachine, L"SOFTWARE\\Shared", L"w" + std::to_wstring(w) + L"v" + std::to_wstring(i)),
                std::to_wstring(i));
}

TEST_F(Registry, DamagedStoreIsNeverOverwritten) {
  fs::create_directories(scratch / "config/kestrix/registry");
  const auto file = scratch / "config/kestrix/registry/HKEY_CURRENT_USER.json";
  test::writeWholeFile(file, "{ \"half");
  EXPECT_EQ(setRegistryString(RegistryRoot::CurrentUser, L"K", L"v", L"x"), RegistryResult::Failed);
  EXPECT_EQ(test::readWholeFile(file), "{ \"half");
}

}  // namespace
}  // namespace kx::platform
