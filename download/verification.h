#pragma once
// The end-to-end check of a downloaded package against its MD5 digest, and the
// removal of a package that failed it together with its resume record.

#include <optional>
#include <string>

#include "download/file_md5.h"

namespace kx {

// Whether the file's digest equals `expected`, ignoring letter case.
bool VerifyFileMd5(const std::wstring& path, const std::string& expected);

// Deletes the package file, its resume record and the temporaries that
// interrupted saves of the record left behind; a file that is already gone
// counts as deleted. Other failures throw std::filesystem::filesystem_error "remove".
void RemoveDownloadedFile(const std::wstring& localPath);

}  // namespace kx
