#pragma once

#include <string>

namespace kx::ui {

// The folder start-up makes current, from the first process argument: the
// path without its last component and the separators before it ("\" and "/"
// both count). A root stays a root; a bare name gives the empty text, which
// leaves the current directory alone.
std::wstring startupFolder(const std::wstring& program);

}  // namespace kx::ui
