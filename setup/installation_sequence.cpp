#include "setup/installation_sequence.h"

#include <cstdio>
#include <exception>
#include <filesystem>

#include "common/strings.h"
#include "download/verification.h"
#include "flavour/flavour.h"
#include "platform/atomic_file.h"
#include "platform/codepage.h"
#include "setup/extraction.h"
#include "setup/folder_replacement.h"
#include "setup/platform_setup.h"
#include "setup/registry_integration.h"
#include "setup/shortcuts.h"
#include "telemetry/telemetry.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

fs::path toPath(const std::wstring& wide) { return fs::path(platform::wideToFileSystem(wide)); }
std::wstring toWide(const fs::path& path) { return platform::fileSystemToWide(path.string()); }

void track(const wchar_t* event) {
  if (isQv) TrackEvent(event);
}

// The one line the installation writes about a step that failed.
void logFailure(const std::string& step, const std::string& reason) {
  std::fprintf(stderr, "installation: %s failed: %s\n", step.c_str(), reason.c_str());
}

// A step whose failure leaves the product usable: noted, and the sequence goes on.
void optionalStep(bool done, const std::string& step) {
  if (!done) logFailure(step, "the installation goes on without it");
}

std::string describe(const std::wstring& path) { return platform::wideToFileSystem(path); }

// The folder a package is extracted into (its "game" folder lies below it).
fs::path packageFolder(const fs::path& root, const PackageEntry& entry) {
  fs::path pkg;
  if (isProd) {
    pkg = root;
  } else if (isQv) {
    pkg = root / "Games" / "kestrix" / (entry.bigVersion.empty() ? "1.0" : entry.bigVersion);
  } else {
    pkg = entry.bigVersion.empty() ? root : root / "games" / entry.bigVersion;
  }
  return entry.isAlternate ? pkg / "game2" : pkg;
}

// The channel as its bytes, no line end, replacing the file whole so that a
// failed write leaves the old one; only into a folder that exists.
void writeChannelFile(const std::string& text, const fs::path& file) {
  std::error_code error;
  if (text.empty() || !fs::is_directory(file.parent_path(), error)) return;
  optionalStep(platform::writeFileAtomically(file, text), "channel file " + file.string());
}

// Extracts the package beside its installed version and swaps it in once
// complete, so that a failure keeps the old version as it was.
StepResult installPackage(const PackageEntry& package, const fs::path& pkg, ITaskCallback* window,
                          const InstallationHost& host) {
  FolderReplacement replacement(pkg);
  if (auto prepared = replacement.prepare(); !prepared) return prepared;
  host.downloadingPackage.exchange(true);
  host.unzipTotalBytes = package.size;
  track(L"unzip_game");
  auto installed = unzipPackage(package.localPath, toWide(replacement.staging()), "lumlum", "game",
                                host.unzipTotalBytes, window);
  if (installed) installed = replacement.commit();
  if (!installed) {
    replacement.discard();
    return installed;
  }
  track(L"unzip_game_success");
  return installed;
}

// The flavour's links, registry values and channel file for an installed package.
void packageSteps(const PackageEntry& package, const fs::path& pkg, const InstallationChoices& choices,
                  const InstallationHost& host) {
  const std::wstring& root = choices.root;
  const fs::path rootPath = toPath(root);
  const fs::path game = pkg / "game";
  const std::wstring editor = toWide(game / "Editor.exe");
  const bool registersScheme = package.bigVersion == "2.0";
  const auto link = [](const std::wstring& target, const std::wstring& path) {
    optionalStep(CreateShortcut(target, path, L"", L"", L""), "shortcut " + describe(path));
  };
  const auto scheme = [&] {
    optionalStep(RegisterUrlProtocol(editorUrlScheme(), L"", editor), "URL scheme " + describe(editorUrlScheme()));
  };
  if (isEdu) link(toWide(rootPath / "Launcher.exe"), desktopLinkPath(L"Lumlum教育版"));
  if (!isProd && !isKestrixUat && !isQv && !isKestrix) {
    link(toWide(game / "launcher.exe"), desktopLinkPath(L"Lumlum Editor"));
    host.createMapShortcut(root);
  }
  if (isQv) {
    link(editor, editorShortcutPath(package.bigVersion));
    if (registersScheme) scheme();
  }
  if (isKestrix) {
    optionalStep(WriteEditorPathKey(package.bigVersion, root), "editor key for version " + package.bigVersion);
    const std::wstring shortcut = editorShortcutPath(package.bigVersion);
    MoveToRecycleBin(shortcut);
    if (choices.createDesktopShortcut) link(editor, shortcut);
    const std::wstring runValue = editorRunValueName(package.bigVersion);
    optionalStep(DeleteAutoRunValue(runValue), "removing the auto-start value " + describe(runValue));
    if (choices.autoRun) optionalStep(SetAutoRunValue(runValue, editor), "auto-start value " + describe(runValue));
    if (registersScheme) scheme();
    writeChannelFile(choices.channel, game / "Package" / "channel");
  }
}

// The steps of the sequence; `failedUrls` gathers the entries not installed,
// `handling` names the one being handled should an error stop everything.
void installSteps(const std::vector<PackageEntry>& entries, const InstallationChoices& choices, ITaskCallback* window,
                  const InstallationHost& host, std::vector<std::string>& failedUrls, std::string& handling) {
  const std::wstring& root = choices.root;
  std::vector<const PackageEntry*> packages;
  const PackageEntry* platformSetup = nullptr;
  for (const PackageEntry& entry : entries) {
    if (!entry.selected) continue;
    if (entry.isPackage) {
      packages.push_back(&entry);
    } else {
      platformSetup = &entry;
    }
  }

  if (platformSetup && !platformSetup->localPath.empty()) {
    handling = platformSetup->url;
    track(L"install_platform");
    host.downloadingPackage.exchange(false);
    if (auto ran = runPlatformSetup(platformSetup->localPath, choices.setupArguments, window); !ran) {
      logFailure("platform setup", ran.reason);
      failedUrls.push_back(platformSetup->url);
    }
  }
  if (window) window->OnInstallProgress(95);

  const fs::path rootPath = toPath(root);
  for (const PackageEntry* package : packages) {
    handling = package->url;
    const fs::path pkg = packageFolder(rootPath, *package);
    if (auto installed = installPackage(*package, pkg, window, host); !installed) {
      logFailure("package " + package->fileName, installed.reason);
      failedUrls.push_back(package->url);
      continue;
    }
    packageSteps(*package, pkg, choices, host);
  }

  if (isQv && !choices.mapId.empty() && !choices.mapDisplayName.empty()) host.createMapShortcut(root);
  if (isQv) {
    writeChannelFile(choices.channel, rootPath / "config" / "platform" / "channel.dat");
  } else if (isProd) {
    writeChannelFile(choices.channel, rootPath / "config" / "system" / ".cps");
  }
  // Asked again, the worker installs from the same downloads.
  if (!failedUrls.empty()) return;

  for (const PackageEntry& entry : entries) {
    // An entry never given a local path has nothing on disk; its record path
    // would be ".cfg" in the current folder.
    if (entry.localPath.empty()) continue;
    try {
      RemoveDownloadedFile(entry.localPath);
    } catch (const fs::filesystem_error& error) {
      logFailure("removing the download " + describe(entry.localPath), error.what());
    }
  }
  if (window) {
    window->OnInstallProgress(100);
    window->OnInstallFinished();
  }
}

}  // namespace

std::optional<std::string> runInstallationSequence(const std::vector<PackageEntry>& entries,
                                                   const InstallationChoices& choices, ITaskCallback* window,
                                                   const InstallationHost& host) {
  std::vector<std::string> failedUrls;
  std::string handling;
  // An exception that left this thread would end the whole process. It
  // stops the sequence where it is, and the entry being handled counts as
  // not installed.
  try {
    installSteps(entries, choices, window, host, failedUrls, handling);
  } catch (const std::exception& error) {
    logFailure("installation", error.what());
    failedUrls.push_back(handling);
  }
  if (failedUrls.empty()) return std::nullopt;
  return failedUrls.front();
}

}  // namespace kx
