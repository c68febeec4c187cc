#include "tests/ui/handlers_fixture.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "platform/registry.h"
#include "tests/support/tools.h"
#include "tests/workflow/workflow_fakes.h"

namespace kx::test {

namespace fs = std::filesystem;
using platform::RegistryKey;
using platform::RegistryResult;
using platform::RegistryRoot;

HandlersTest::HandlersTest() : savedTemporaryFolder(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "") {
  redirectOperatingSystemLocations(scratch);
}

HandlersTest::~HandlersTest() { setenv("TMPDIR", savedTemporaryFolder.c_str(), 1); }

void HandlersTest::writeRecorder(const fs::path& path) {
  fs::create_directories(path.parent_path());
  writeWholeFile(path,
                 "#!/bin/sh\n"
                 "printf '%s\\n' \"$0\" \"$@\" > \"$0.args.tmp\" && mv \"$0.args.tmp\" \"$0.args\"\n");
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

std::optional<std::vector<std::string>> HandlersTest::startedWith(const fs::path& path) {
  const fs::path record = path.string() + ".args";
  for (int wait = 0; wait < 100 && !fs::exists(record); ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (!fs::exists(record)) return std::nullopt;
  std::vector<std::string> arguments;
  std::ifstream lines(record);
  for (std::string line; std::getline(lines, line);) arguments.push_back(line);
  return arguments;
}

std::optional<std::wstring> HandlersTest::registryValue(bool machine, const std::wstring& key,
                                                        const std::wstring& name) {
  RegistryKey opened;
  std::wstring data;
  if (RegistryKey::open(machine ? RegistryRoot::LocalMachine : RegistryRoot::CurrentUser, key, platform::kKeyRead,
                        opened) != RegistryResult::Ok ||
      opened.queryString(name, 4096, data) != RegistryResult::Ok)
    return std::nullopt;
  return data;
}

void HandlersTest::setUninstallString(const std::wstring& product, const std::wstring& command) {
  ASSERT_EQ(platform::setRegistryString(RegistryRoot::LocalMachine,
                                        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + product,
                                        L"UninstallString", command),
            RegistryResult::Ok);
}

}  // namespace kx::test
