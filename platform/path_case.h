#pragma once
// Windows file names ignore case; this file system's do not. Lookups of paths
// that another spelling may have created go through here.

#include <optional>
#include <string>

namespace kx::platform {

// The path on disk that `path` names when each component may differ in case
// (ASCII letters) from the name on disk; nothing when there is none. An
// error counts as "does not exist".
std::optional<std::wstring> findIgnoringCase(const std::wstring& path);

// Whether findIgnoringCase finds something.
bool existsIgnoringCase(const std::wstring& path);

}  // namespace kx::platform
