#pragma once
// What the launch and detection tests share: a window over an install
// manager without an engine, every operating-system location in a scratch
// folder, and stand-in programs that record how they were started.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "install_manager/install_man.h"
#include "tests/support/test_server.h"
#include "tests/ui/observed_window.h"

namespace kx::test {

class HandlersTest : public ::testing::Test {
 protected:
  HandlersTest();
  // The next test's scratch folder is made in the temporary folder this one redirected.
  ~HandlersTest() override;

  // A program at `path` that writes its arguments, one per line and its own
  // name first, to `path` + ".args" (made executable, folders created).
  static void writeRecorder(const std::filesystem::path& path);
  // The arguments the recorder at `path` was started with, once it has run;
  // nothing when it has not run within a few seconds.
  static std::optional<std::vector<std::string>> startedWith(const std::filesystem::path& path);

  // A registry string of the stand-in registry; nothing when absent.
  static std::optional<std::wstring> registryValue(bool machine, const std::wstring& key, const std::wstring& name);
  static void setUninstallString(const std::wstring& product, const std::wstring& command);

  std::filesystem::path desktop() const { return scratch.file("machine/Desktop"); }

  const std::string savedTemporaryFolder;
  TempDir scratch;
  InstallMan manager{[](EngineKind, IDownloadCallBack*, IDownloadStateCallBack*) { return nullptr; }};
  ObservedWindow window{manager};
};

}  // namespace kx::test
