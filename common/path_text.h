#pragma once
// Paths held as wide text, as the page and the registry give them.

#include <filesystem>
#include <string>

namespace kx {

inline constexpr wchar_t kPathSeparator = static_cast<wchar_t>(std::filesystem::path::preferred_separator);

// `folder` and `name` with one separator between them ("\" and "/" both end
// a folder); `name` alone when `folder` is empty.
std::wstring joinPath(const std::wstring& folder, const std::wstring& name);

}  // namespace kx
