#pragma once
// Extraction of an editor package (a zip archive) into its package folder,
// moving the installation progress from 95 to 100 percent.

#include <cstdint>
#include <optional>
#include <string>

#include "download/interfaces.h"
#include "setup/step_result.h"

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
// output. An entry's name comes from a matching Unicode Path field, else it
// is UTF-8 when flagged so, else in the system's ANSI code page. Files keep
// their times and the execute bits of their Unix modes, never set-id bits;
// links are created where they point inside the destination.
//
// Succeeds when the archive was read and every entry of its central
// directory written (an archive without entries included). Fails, with the
// reason, before writing anything when the volume has less free space than
// the entries' unpacked sizes; and at the first entry that cannot be written
// (a full disk or any other write error), that would land outside
// `destFolder`, that is a link pointing outside it, a device or other
// special entry, damaged or encrypted; and when the entries read disagree
// with the directory. The entries before the failure stay on disk and no
// rename happens.
StepResult unzipPackage(const std::wstring& archivePath, const std::wstring& destFolder, const std::string& fromName,
                        const std::string& toName, std::uint64_t unzipTotalBytes, ITaskCallback* progress);

}  // namespace kx
