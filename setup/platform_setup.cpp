#include "setup/platform_setup.h"

#include <chrono>
#include <cstdio>

#include "flavour/flavour.h"
#include "platform/codepage.h"
#include "platform/subprocess.h"
#include "telemetry/telemetry.h"

namespace kx {

namespace {

constexpr std::chrono::milliseconds kPollInterval{1000};
constexpr std::size_t kLogBytes = 12;

std::wstring languageId() {
  if (isProd || isKestrixUat) return L"0";
  return isEdu ? L"2052" : L"1033";
}

std::wstring withoutTrailingSeparators(std::wstring folder) {
  while (folder.size() > 1 && (folder.back() == L'/' || folder.back() == L'\\')) folder.pop_back();
  return folder;
}

std::optional<long long> readLoggedPercent(const std::filesystem::path& log) {
  std::FILE* file = std::fopen(log.c_str(), "r");
  if (!file) return std::nullopt;
  char text[kLogBytes];
  const std::size_t n = std::fread(text, 1, sizeof text, file);
  std::fclose(file);
  return leadingInteger(std::string_view(text, n));
}

}  // namespace

std::wstring buildPlatformSetupArguments(const std::wstring& installDir, bool createDesktopShortcut, bool autoRun) {
  std::wstring text = L"/S /NCRC /L=" + languageId();
  if (isQv) {
    text += L" /NRUN=1";
    if (createDesktopShortcut) text += L" /MLNK=1";
    if (autoRun) text += L" /MARN=1";
  }
  return text + L" /D=" + withoutTrailingSeparators(installDir);
}

std::filesystem::path platformSetupLogPath(const std::wstring& setupPath) {
  const auto name = std::filesystem::path(platform::wideToFileSystem(setupPath)).filename();
  return std::filesystem::temp_directory_path() / name.stem().concat(".log");
}

std::optional<long long> leadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10 + (text[i] - '0');
  return negative ? -value : value;  // the log is read 12 bytes at a time: no overflow
}

bool runPlatformSetup(const std::wstring& setupPath, const std::wstring& argumentText, ITaskCallback* progress) {
  if (setupPath.empty()) return false;
  const auto log = platformSetupLogPath(setupPath);
  if (std::filesystem::exists(log)) std::filesystem::remove(log);

  // Left running should the installer end first: a setup interrupted halfway
  // would leave a broken platform installation.
  auto setup = platform::Subprocess::start(setupPath, platform::ParameterText{argumentText},
                                           {.lifetime = platform::Subprocess::Lifetime::OutlivesInstaller,
                                            .makeExecutable = true});
  if (!setup) return false;
  while (!setup->wait(kPollInterval)) {
    const auto percent = readLoggedPercent(log);
    if (percent && *percent >= 0 && *percent <= 100 && progress)
      progress->OnInstallProgress(static_cast<std::int32_t>(static_cast<double>(*percent) * 0.05 + 90));
  }
  if (isQv) TrackEvent(setup->exitCode() == 0 ? L"install_platform_success" : L"install_platform_failed");
  if (progress) progress->OnInstallProgress(95);
  return true;
}

}  // namespace kx
