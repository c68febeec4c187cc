#pragma once
// A whole installation from startWorker to the end report: the segmented
// downloader fetches real archives (and a stand-in platform setup) from the
// loopback server, and every operating-system location lies in a folder of
// the test's own.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "install_manager/install_man.h"
#include "nlohmann/json.hpp"
#include "platform/registry.h"
#include "tests/support/test_server.h"
#include "tests/workflow/workflow_fakes.h"

namespace kx::test {

namespace fs = std::filesystem;

class InstallationTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Serves an editor package made of `entries` (make_zip.py's form) under `name`.
  PackageEntry package(const std::string& name, const nlohmann::json& entries, const std::string& bigVersion);
  // Serves a platform setup: by default a shell script that logs 100, records
  // its arguments and exits 0; else `program` as it is.
  PackageEntry platformSetup(const std::string& program = "");
  // Runs the worker over `entries` into `root`; false when it did not end in time.
  bool install(std::vector<PackageEntry> entries, const std::string& endEvent = "OnInstallFinished");
  // Starts the worker over `entries` into `root` and leaves it running.
  void begin(std::vector<PackageEntry> entries);

  fs::path desktop() const { return fs::path(scratch.file("machine")) / "Desktop"; }
  fs::path trashedFiles() const { return fs::path(scratch.file("data")) / "Trash" / "files"; }
  fs::path setupArguments() const { return scratch.file("setup-args.txt"); }

  // The page's choices, made on the manager before the worker starts.
  std::function<void(InstallMan&)> choices;

  TestServer server;
  TempDir scratch, files;
  const fs::path root = fs::path(scratch.file("Kestrix Games"));
  std::wstring previousFolder;
  EventLog log;
  RecordingWindow window{log};
  std::unique_ptr<InstallMan> manager;
};

// A REG_SZ value, or nothing when the key or the value is missing.
std::optional<std::wstring> registryValue(platform::RegistryRoot root, const std::wstring& key,
                                          const std::wstring& name);

}  // namespace kx::test
