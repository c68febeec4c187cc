#pragma once
// The end-to-end check of a downloaded package against its MD5 digest, and the
// removal of a package that failed it together with its resume record.

#include <optional>
#include <string>

#include "download/file_md5.h"

namespace kx {

enum class FileCheck {
  Match,
  Mismatch,    // the file was read whole and its digest differs: it is damaged
  Unreadable,  // the file could not be opened or read: nothing is known of its bytes
};

// Compares the file's digest with `expected`, ignoring letter case.
FileCheck CheckFileMd5(const std::wstring& path, const std::string& expected);

// Whether the file's digest equals `expected`, ignoring letter case.
bool VerifyFileMd5(const std::wstring& path, const std::string& expected);

// Deletes the package file, its resume record and the temporaries that
// interrupted saves of the record left behind; a file that is already gone
// counts as deleted. Other failures throw std::filesystem::filesystem_error "remove".
void RemoveDownloadedFile(const std::wstring& localPath);

}  // namespace kx
