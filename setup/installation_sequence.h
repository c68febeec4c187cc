#pragma once
// The installation sequence, run on the install manager's installation thread
// once every selected file is downloaded and verified: the platform setup,
// extraction of every selected editor package into its version folder, the
// flavour's shortcut, registry and channel-file steps, removal of the
// downloads, and the report of the end to the window; or, when something the
// product needs could not be installed, which entry that was.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
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

// Runs the sequence over `entries` and reports progress to `window` (may be
// null). Every selected platform setup and editor package is installed on
// its own: a package is extracted beside its old version, which it replaces
// only once it is complete, and its links, registry values and channel file
// follow. A step the product needs that fails (the platform setup cannot
// start or ends with an error, a package cannot be extracted or put in
// place) stops that package only; a step whose failure leaves the product
// usable (a link, a registry value, a channel file, the map icon, removing a
// download) is logged in one line and the sequence goes on.
//
// Returns nothing when everything was installed: every entry's download is
// removed and the window hears 100 and the end. Otherwise returns the URL of
// the first entry that was not installed, keeps every download for another
// try and reports no end; the caller asks the user.
std::optional<std::string> runInstallationSequence(const std::vector<PackageEntry>& entries,
                                                   const InstallationChoices& choices, ITaskCallback* window,
                                                   const InstallationHost& host);

}  // namespace kx
