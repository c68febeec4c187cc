#pragma once
// Reading settings files in the Windows INI form ("[section]" lines and
// "key=value" lines), as programs of the platform write them.

#include <cstddef>
#include <string>

namespace kx::platform {

// The value of `key` in `section` of the file at `path`: section and key
// names ignore letter case, blanks around names and values are dropped, and
// one pair of quotes around the value is removed. The file may be UTF-16
// (with its byte-order mark), UTF-8 or in the file-system code page. The
// value is cut to `capacity` - 1 characters, as a buffer of `capacity`
// characters holds. `fallback` when the file, the section or the key is missing.
std::wstring readIniString(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                           const std::wstring& fallback, std::size_t capacity);

}  // namespace kx::platform
