#include "setup/installation_sequence.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>

#include "common/strings.h"
#include "download/verification.h"
#include "flavour/flavour.h"
#include "platform/codepage.h"
#include "setup/extraction.h"
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

// The channel as its bytes, no line end; only into a folder that exists, and
// a file that cannot be opened is passed over.
void writeChannelFile(const std::string& text, const fs::path& file) {
  if (text.empty()) return;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (out) out << text;
}

// The steps of the sequence; `failedUrl` names the entry being handled.
void installSteps(const std::vector<PackageEntry>& entries, const InstallationChoices& choices, ITaskCallback* window,
                  const InstallationHost& host, std::string& failedUrl) {
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
    failedUrl = platformSetup->url;
    track(L"install_platform");
    host.downloadingPackage.exchange(false);
    runPlatformSetup(platformSetup->localPath, choices.setupArguments, window);
  }
  if (window) window->OnInstallProgress(95);

  const fs::path rootPath = toPath(root);
  for (const PackageEntry* package : packages) {
    failedUrl = package->url;
    const fs::path pkg = packageFolder(rootPath, *package);
    const fs::path game = pkg / "game";
    if (fs::exists(game)) fs::remove_all(game);

    host.downloadingPackage.exchange(true);
    host.unzipTotalBytes = package->size;
    track(L"unzip_game");
    if (unzipPackage(package->localPath, toWide(pkg), "lumlum", "game", host.unzipTotalBytes, window)) {
      track(L"unzip_game_success");
    }

    const std::wstring editor = toWide(game / "Editor.exe");
    const bool registersScheme = package->bigVersion == "2.0";
    if (isEdu) CreateShortcut(toWide(rootPath / "Launcher.exe"), desktopLinkPath(L"Lumlum教育版"), L"", L"", L"");
    if (!isProd && !isKestrixUat && !isQv && !isKestrix) {
      CreateShortcut(toWide(game / "launcher.exe"), desktopLinkPath(L"Lumlum Editor"), L"", L"", L"");
      host.createMapShortcut(root);
    }
    if (isQv) {
      CreateShortcut(editor, editorShortcutPath(package->bigVersion), L"", L"", L"");
      if (registersScheme) RegisterUrlProtocol(editorUrlScheme(), L"", editor);
    }
    if (isKestrix) {
      WriteEditorPathKey(package->bigVersion, root);
      const std::wstring link = editorShortcutPath(package->bigVersion);
      MoveToRecycleBin(link);
      if (choices.createDesktopShortcut) CreateShortcut(editor, link, L"", L"", L"");
      const std::wstring runValue = editorRunValueName(package->bigVersion);
      DeleteAutoRunValue(runValue);
      if (choices.autoRun) SetAutoRunValue(runValue, editor);
      if (registersScheme) RegisterUrlProtocol(editorUrlScheme(), L"", editor);
      writeChannelFile(choices.channel, game / "Package" / "channel");
    }
  }

  if (isQv && !choices.mapId.empty() && !choices.mapDisplayName.empty()) host.createMapShortcut(root);
  if (isQv) {
    writeChannelFile(choices.channel, rootPath / "config" / "platform" / "channel.dat");
  } else if (isProd) {
    writeChannelFile(choices.channel, rootPath / "config" / "system" / ".cps");
  }

  for (const PackageEntry& entry : entries) {
    // An entry never given a local path has nothing on disk; its record path
    // would be ".cfg" in the current folder.
    if (entry.localPath.empty()) continue;
    failedUrl = entry.url;
    RemoveDownloadedFile(entry.localPath);
  }
  if (window) {
    window->OnInstallProgress(100);
    window->OnInstallFinished();
  }
}

}  // namespace

void runInstallationSequence(const std::vector<PackageEntry>& entries, const InstallationChoices& choices,
                             ITaskCallback* window, const InstallationHost& host) {
  // An exception that left this thread would end the whole process. What is
  // installed stays; the window hears of the failure as a file that could not
  // be installed, and never hears of a finished installation.
  std::string failedUrl;
  try {
    installSteps(entries, choices, window, host, failedUrl);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "installation stopped: %s\n", error.what());
    if (window) window->OnCheckFileError(failedUrl);
  }
}

}  // namespace kx
