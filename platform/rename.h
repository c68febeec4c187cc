#pragma once
// Moving a file to a new name without ever replacing a file that has it.

#include <string>

namespace kx::platform {

enum class RenameResult { Ok, NameTaken, Failed };

// Renames `from` to `to` in one step; NameTaken (and nothing changes) when
// something already has the name `to`.
RenameResult renameWithoutReplacing(const std::wstring& from, const std::wstring& to);

}  // namespace kx::platform
