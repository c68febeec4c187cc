#pragma once
// Reading the update service's documents into package entries. Pure functions
// of the text (no network, no globals), so they can be fuzzed on their own.
//
// Nothing a server sends leaves a half-filled entry: a document either yields a
// complete entry or none.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "download/package_entry.h"

namespace kx {

// No package comes near this; keeping sizes below it lets every sum of a few
// sizes (twice the download, for the space check) stay exact in 64 bits.
inline constexpr std::uint64_t kMaxPackageSize = std::uint64_t(1) << 60;

enum class DocumentOutcome {
  Entry,      // a complete entry was read
  NoEntry,    // well-formed, but names nothing to download (no URL, no wanted version)
  Malformed,  // not JSON, wrong types, missing keys, unusable values
};

struct PlatformDescriptor {
  DocumentOutcome outcome = DocumentOutcome::Malformed;
  std::string version;  // set unless Malformed
  PackageEntry entry;   // set when Entry
};

struct PackageDocument {
  DocumentOutcome outcome = DocumentOutcome::Malformed;
  PackageEntry entry;  // set when Entry
};

// The platform installer descriptor: {version, platform, md5, size}.
PlatformDescriptor parsePlatformDescriptor(std::string_view text);

// A package configuration, flat ({game_url, md5, big_version, size}) or versioned
// (members of that shape keyed by version label). In a versioned document the
// member whose big_version equals `wantedVersion` is taken; with no wanted version,
// the numerically highest big_version (ties keep the member whose key sorts first).
// The entry's selection and origin flags are the caller's to set.
PackageDocument parsePackageConfig(std::string_view text, const std::string& wantedVersion);

// The longest leading decimal number of `text` ("10.0" -> 10, "1.10" -> 1.1), 0 when none.
double leadingDecimal(std::string_view text);

// The last segment of the URL's path (query and fragment excluded) when it can
// name a file in a folder: not empty, not "." or "..", no separators or characters
// that file systems refuse. Empty otherwise.
std::string downloadFileName(std::string_view url);

}  // namespace kx
