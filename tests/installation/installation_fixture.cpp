#include "tests/installation/installation_fixture.h"

#include "common/strings.h"
#include "download/file_md5.h"
#include "install_manager/command_line.h"
#include "platform/current_directory.h"
#include "tests/support/test_build_config.h"
#include "tests/support/tools.h"

namespace kx::test {

void InstallationTest::SetUp() {
  setExtraCaFile(server.caFile());
  redirectOperatingSystemLocations(scratch);
  // Without InstallerHelper.exe beside it the worker downloads with the segmented downloader.
  previousFolder = platform::currentDirectory();
  ASSERT_TRUE(platform::setCurrentDirectory(fromUtf8(files.path())));
  fs::create_directories(desktop());
  fs::create_directories(root);
  setChannel("");
}

void InstallationTest::TearDown() {
  window.shutdown();
  if (manager) manager->stopWorker();
  platform::setCurrentDirectory(previousFolder);
  setChannel("");
}

namespace {

PackageEntry served(TestServer& server, const fs::path& source, const fs::path& root, const std::string& name) {
  server.route("/" + name, {{"file", source.string()}});
  PackageEntry entry;
  entry.fileName = name;
  entry.url = server.url("/" + name);
  entry.md5 = *FileMd5(fromUtf8(source.string()));
  entry.size = fs::file_size(source);
  // Downloads land in the folder that holds the installation folder.
  entry.localPath = fromUtf8((root.parent_path() / name).string());
  return entry;
}

}  // namespace

PackageEntry InstallationTest::package(const std::string& name, const nlohmann::json& entries,
                                       const std::string& bigVersion) {
  const fs::path source = fs::path(files.file(name));
  const auto made = runPython(
      "exec(open(" + nlohmann::json(std::string(KX_SOURCE_DIR) + "/tests/setup/make_zip.py").dump() + ").read())",
      shellQuote(source.string()) + " " + shellQuote(entries.dump()));
  EXPECT_EQ(made.exitCode, 0) << made.output;
  PackageEntry entry = served(server, source, root, name);
  entry.isPackage = true;
  entry.bigVersion = bigVersion;
  return entry;
}

PackageEntry InstallationTest::platformSetup(const std::string& program) {
  const fs::path source = fs::path(files.file("PlatformSetup.exe"));
  writeWholeFile(source, !program.empty() ? program
                                          : "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > " +
                                                shellQuote(setupArguments().string()) +
                                                "\necho 100 > \"$TMPDIR/PlatformSetup.log\"\nexit 0\n");
  PackageEntry entry = served(server, source, root, "PlatformSetup.exe");
  entry.isPlatformInstaller = true;
  return entry;
}

bool InstallationTest::install(std::vector<PackageEntry> entries, const std::string& endEvent) {
  begin(std::move(entries));
  const bool ended = log.waitFor(endEvent, std::chrono::seconds(30));
  manager->stopWorker();
  return ended;
}

void InstallationTest::begin(std::vector<PackageEntry> entries) {
  manager = std::make_unique<InstallMan>();
  manager->totalBytes = 0;
  for (const PackageEntry& entry : entries) manager->totalBytes += entry.size;
  manager->entries = std::move(entries);
  if (choices) choices(*manager);
  window.logProgress = true;
  window.attach(*manager, fromUtf8(root.string()));
  manager->startWorker(fromUtf8(root.string()));
}

std::optional<std::wstring> registryValue(platform::RegistryRoot root, const std::wstring& key,
                                          const std::wstring& name) {
  platform::RegistryKey opened;
  if (platform::RegistryKey::open(root, key, platform::kKeyRead, opened) != platform::RegistryResult::Ok) return {};
  std::wstring data;
  if (opened.queryString(name, 1 << 16, data) != platform::RegistryResult::Ok) return {};
  return data;
}

}  // namespace kx::test
