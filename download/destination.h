#pragma once
// What lies at a download's destination, and who it belongs to. Only a file
// this program downloaded is ever continued, checked or deleted: ours are
// those with a resume record written for them, or aria2's control file beside
// them. Anything else there is the user's and is moved aside, never deleted.

#include <cstdint>
#include <optional>
#include <string>

namespace kx {

enum class DestinationState {
  Absent,           // nothing there
  Foreign,          // a file (or folder) this program did not download
  Stale,            // ours, for another download (an older package): to be replaced
  Complete,         // ours, every byte of this download written
  Unfinished,       // ours, ranges of the segmented downloader still to fetch
  Aria2Unfinished,  // ours, aria2 still has work on it (its control file is there)
};

DestinationState InspectDestination(const std::wstring& path, const std::string& url, std::uint64_t size);

// destination + ".aria2", where aria2 keeps the state of an unfinished file.
std::wstring Aria2ControlFilePath(const std::wstring& destination);

// The destination's file name in the file-system code page: the stem of segment ids.
std::string DestinationFileName(const std::wstring& path);

// Moves what is at `path` to the first free name of the form "name (N).ext"
// in the same folder; the new path, or nothing when it cannot be moved.
std::optional<std::wstring> MoveAside(const std::wstring& path);

// Marks the file at `path`, which an engine without a record of its own has
// just completed, as ours and complete: a record with one finished range.
// Nothing happens when its record already says so or the file is gone.
void RecordFinishedDownload(const std::wstring& path, const std::string& url, std::uint64_t size);

}  // namespace kx
