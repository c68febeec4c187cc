#pragma once
// The installation sequence, run on the install manager's installation thread
// once every selected file is downloaded and verified: the platform setup,
// extraction of every selected editor package into its version folder, the
// flavour's shortcut, registry and channel-file steps, removal of the
// downloads, and the report of the end to the window.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "download/interfaces.h"
#include "download/package_entry.h"

namespace kx {

// What the user chose and the installer was started with.
struct InstallationChoices {
  std::wstring setupArguments;  // the platform setup's parameter text
  std::wstring root;            // the installation folder, with a trailing separator
  // The page may still change these two while the sequence runs; they are
  // read where they act.
  const std::atomic<bool>& createDesktopShortcut;
  const std::atomic<bool>& autoRun;
  std::string channel;  // the channel file's text; no channel file when empty
  // The map the installer was handed out for.
  std::wstring mapId;
  std::wstring mapDisplayName;
};

// The install manager's part in the sequence.
struct InstallationHost {
  // False during the platform setup, true from the first extraction on: the
  // window picks its progress display by it.
  std::atomic<bool>& downloadingPackage;
  // The size of the package being extracted.
  std::uint64_t& unzipTotalBytes;
  // The map shortcut in a folder.
  std::function<void(const std::wstring& folder)> createMapShortcut;
};

// Runs the sequence over `entries` (the selected platform setup and editor
// packages are installed; every entry's download is removed) and reports
// progress and the end to `window` (may be null). An error that stops it is
// reported as OnCheckFileError with the URL of the entry being handled, and
// the end is then never reported; what was installed stays.
void runInstallationSequence(const std::vector<PackageEntry>& entries, const InstallationChoices& choices,
                             ITaskCallback* window, const InstallationHost& host);

}  // namespace kx
