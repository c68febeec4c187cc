// The install manager's part in the command line: the first-call parse and the
// map keys taken from the setup program's file name.
#include <iostream>
#include <locale>
#include <mutex>

#include "common/strings.h"
#include "flavour/flavour.h"
#include "install_manager/command_line.h"
#include "install_manager/install_man.h"
#include "telemetry/telemetry.h"

namespace kx {

void InstallMan::parseCommandLineOnce(const std::vector<std::wstring>& args) {
  static std::once_flag once;
  std::call_once(once, [&] {
    auto result = parseArguments(args, std::cerr);
    storeCommandLine(result);
    if (result->count("setup")) setSetupPath(fromUtf8((*result)["setup"].as<std::string>()));
    if (result->count("channel")) setChannel((*result)["channel"].as<std::string>());
    if (isQv) {
      const std::string given = channel();
      AppLaunch(L"MA-2718-5A5A5A5A5A5A", L"1.0.8", given.empty() ? std::wstring(L"official") : fromUtf8(given));
    }
  });
}

void InstallMan::setSetupPath(const std::wstring& path) {
  const auto slash = path.find_last_of(L"\\/");
  const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  std::wstring lower = name;
  const auto& ctype = std::use_facet<std::ctype<wchar_t>>(std::locale());
  for (auto& c : lower) c = ctype.tolower(c);

  if (isQv) {
    const auto at = lower.rfind(L'@');
    if (at == std::wstring::npos) return;
    std::wstring id = lower.substr(at + 1);
    id.resize(id.size() >= 4 ? id.size() - 4 : 0);  // the ".exe"
    if (const auto space = id.find(L' '); space != std::wstring::npos) id.resize(space);
    if (const auto paren = id.find(L'('); paren != std::wstring::npos) id.resize(paren);
    mapId = id;
    return;
  }
  static const std::wstring suffix = L"_setup.exe";
  if (lower.size() >= suffix.size() && lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0)
    mapDisplayName = name.substr(0, name.size() - suffix.size());
}

}  // namespace kx
