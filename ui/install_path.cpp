#include "ui/install_path.h"

#include <filesystem>
#include <system_error>

#include "flavour/flavour.h"
#include "platform/codepage.h"
#include "platform/volume.h"

namespace kx::ui {

namespace fs = std::filesystem;

namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool isLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// The product folder a bare root receives, so nobody installs into a volume's root.
const wchar_t* productFolder() {
  if (isProd) return L"Emberhold";
  if (isKestrixUat) return L"Emberhold Preview";
  if (isQv) return L"zzarenahq";
  return L"Lumlum Preview";
}

// The length of the root of `path`: "D:" and the separators after it, or
// the leading separators of a native absolute path; 0 without a root.
std::size_t rootLength(const std::wstring& path, bool driveForm) {
  std::size_t end = 0;
  if (driveForm) {
    end = 2;
  } else if (path.empty() || path[0] != fs::path::preferred_separator) {
    return 0;
  }
  while (end < path.size() && isSeparator(path[end])) ++end;
  return end;
}

}  // namespace

bool isDriveForm(const std::wstring& path) {
  return path.size() >= 3 && isLetter(path[0]) && path[1] == L':' && isSeparator(path[2]);
}

std::wstring installFolderFor(const std::wstring& requested) {
  std::wstring path = requested;
  const bool driveForm = isDriveForm(path) || (path.size() == 2 && isLetter(path[0]) && path[1] == L':');
  // Drive-form paths keep Windows' separator; native paths keep ours.
  const wchar_t separator = driveForm ? L'\\' : static_cast<wchar_t>(fs::path::preferred_separator);
  for (auto& c : path) {
    if (isSeparator(c) && (driveForm || c == L'/')) c = separator;
  }
  const std::size_t root = rootLength(path, driveForm);
  if (root != 0 && root == path.size()) {
    if (!isSeparator(path.back())) path += separator;
    path += productFolder();
  }
  return path;
}

bool validateInstallPath(const std::wstring& requested) {
  std::wstring path = requested;
  while (!path.empty() && isSeparator(path.back())) path.pop_back();
  if (path.find_first_of(L"\"*?<>") != std::wstring::npos) return false;
  const std::size_t driveColon = path.find(L":\\");
  const bool driveForm = driveColon != std::wstring::npos;
  if (driveForm && path.find(L':', driveColon + 1) != std::wstring::npos) return false;

  const fs::path target(platform::wideToFileSystem(path));
  std::error_code error;
  if (!platform::namesKnownVolume(path)) {
    // As creating a folder on a missing drive fails on Windows.
    throw fs::filesystem_error("create_directories", target, std::make_error_code(std::errc::no_such_device));
  }
  const bool exists = fs::exists(target, error);
  if (error) throw fs::filesystem_error("exists", target, error);
  if (exists) return true;
  const bool created = fs::create_directories(target, error);
  if (error) throw fs::filesystem_error("create_directories", target, error);
  return created || driveForm;
}

}  // namespace kx::ui
