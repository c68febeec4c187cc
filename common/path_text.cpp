#include "common/path_text.h"

namespace kx {

std::wstring joinPath(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty()) return name;
  const wchar_t last = folder.back();
  return last == L'\\' || last == L'/' ? folder + name : folder + kPathSeparator + name;
}

}  // namespace kx
