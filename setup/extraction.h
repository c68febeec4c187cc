#pragma once
// Extraction of an editor package (a zip archive) into its package folder,
// moving the installation progress from 95 to 100 percent.

#include <cstdint>
#include <optional>
#include <string>

#include "download/interfaces.h"

namespace kx {

// Progress for an entry whose compressed data ends at archive offset `end`:
// (end * 0.05 / unzipTotalBytes + 0.95) * 100, truncated. Not clamped: a total
// smaller than the archive gives values above 100. Nothing for a zero total.
std::optional<std::int32_t> extractionPercent(std::uint64_t end, std::uint64_t unzipTotalBytes);

// Where an entry of the archive may be written, as a path relative to the
// destination with '/' separators; nothing when the name would leave the
// destination (a ".." component, an absolute path, a drive letter; backslashes
// count as separators) or holds a NUL. "." components are dropped, so a
// directory entry naming the destination itself gives an empty path.
std::optional<std::string> safeEntryPath(std::string_view name);

// Extracts every entry of `archivePath` below `destFolder`, then renames
// `destFolder`/`fromName` to `destFolder`/`toName` when it exists. Before each
// entry is written `progress` (may be null) hears extractionPercent(end of the
// entry's data, unzipTotalBytes) and "Extracting <name>" goes to standard
// output. Entry names carrying the UTF-8 flag are UTF-8, others are in the
// system's ANSI code page. Files keep their times and the execute bits of
// their Unix modes, never set-id bits.
//
// True when the archive was read and every entry written (an archive without
// entries included). An entry that would land outside `destFolder`, a symbolic
// link pointing outside it, or a device or other special entry is refused and
// fails the extraction, as does a damaged or encrypted entry; the entries
// before it stay on disk and no rename happens.
bool unzipPackage(const std::wstring& archivePath, const std::wstring& destFolder, const std::string& fromName,
                  const std::string& toName, std::uint64_t unzipTotalBytes, ITaskCallback* progress);

}  // namespace kx
