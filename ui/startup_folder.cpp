#include "ui/startup_folder.h"

namespace kx::ui {

namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool isDriveName(const std::wstring& path, std::size_t length) {
  return length == 2 && path[1] == L':' && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

}  // namespace

std::wstring startupFolder(const std::wstring& program) {
  const std::size_t last = program.find_last_of(L"\\/");
  if (last == std::wstring::npos) return program.size() >= 2 && isDriveName(program, 2) ? program.substr(0, 2) : L"";
  std::size_t end = last;
  while (end > 0 && isSeparator(program[end - 1])) --end;
  if (end == 0) return program.substr(0, 1);                  // "/x": the root
  if (isDriveName(program, end)) return program.substr(0, 3);  // "C:\x": the drive's root
  return program.substr(0, end);
}

}  // namespace kx::ui
