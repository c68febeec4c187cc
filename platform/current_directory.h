#pragma once

#include <string>

namespace kx::platform {

std::wstring currentDirectory();

// Returns false when the folder cannot be entered.
bool setCurrentDirectory(const std::wstring& folder);

}  // namespace kx::platform
