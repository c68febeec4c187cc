// The silent-install switches handed to the platform's NSIS setup program.
#include <filesystem>

#include "install_manager/flavour.h"
#include "install_manager/install_man.h"

namespace kx {

std::wstring InstallMan::buildSetupArguments(const std::wstring& folder) const {
  std::wstring text = L"/S /NCRC /L=";
  text += (isProd || isKestrixUat) ? L"0" : isEdu ? L"2052" : L"1033";
  if (isQv) {
    text += L" /NRUN=1";
    if (createDesktopShortcut) text += L" /MLNK=1";
    if (autoRun) text += L" /MARN=1";
  }
  // NSIS takes everything after /D= as the folder, spaces included, so it
  // comes last and unquoted.
  std::wstring target = folder;
  while (target.size() > 1 && target.back() == static_cast<wchar_t>(std::filesystem::path::preferred_separator))
    target.pop_back();
  text += L" /D=" + target;
  return text;
}

}  // namespace kx
