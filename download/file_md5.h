#pragma once
// The MD5 digest of a file, shared by the package check and the downloader library.

#include <optional>
#include <string>

namespace kx {

// The file's MD5 digest as 32 lower-case hexadecimal digits; nothing when the
// file cannot be opened or a read fails part-way.
std::optional<std::string> FileMd5(const std::wstring& path);

}  // namespace kx
