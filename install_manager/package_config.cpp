// The install manager's package configuration: where the documents are, how
// they become entries, and whether what they describe can be installed.
#include <chrono>
#include <filesystem>

#include "common/path_text.h"
#include "common/strings.h"
#include "flavour/flavour.h"
#include "install_manager/command_line.h"
#include "install_manager/default_package_config.h"
#include "install_manager/install_man.h"
#include "install_manager/package_document.h"
#include "platform/process.h"
#include "telemetry/telemetry.h"

namespace kx {

namespace {

// The documents are cached by proxies; the time stamp asks for a fresh copy.
// A URL that already has a query (one given on the command line) gets it as one more parameter.
std::string withTimeStamp(const std::string& url) {
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  return url + (url.find('?') == std::string::npos ? "?" : "&") + std::to_string(seconds);
}

// Paths are handled as text: the standard path type would convert wide
// strings through the C locale here and fail on any non-ASCII name.
bool isSeparator(wchar_t c) {
  return c == L'/' || c == static_cast<wchar_t>(std::filesystem::path::preferred_separator);
}

// The folder that holds the chosen installation folder, with or without a
// trailing separator; a root stays itself, a bare name has none.
std::wstring baseFolder(const std::wstring& installDir) {
  std::size_t end = installDir.size();
  while (end > 1 && isSeparator(installDir[end - 1])) --end;
  while (end > 0 && !isSeparator(installDir[end - 1])) --end;
  while (end > 1 && isSeparator(installDir[end - 1])) --end;
  return installDir.substr(0, end);
}

}  // namespace

std::string InstallMan::getConfigUrl(bool platform, bool alternate) {
  parseCommandLineOnce(platform::processArguments());
  flavourKey = productFlavour;
  const EndpointRow row = getEndpointRow(flavourKey);
  if (platform) {
    if (std::string json = commandLineValue("json"); !json.empty()) return json;
    if (std::string cfg = commandLineValue("cfg"); !cfg.empty()) return cfg;
    return row.platformDescriptorUrl;
  }
  return alternate ? row.altPackageConfigUrl : row.packageConfigUrl;
}

std::uint64_t InstallMan::getTotalSize() {
  if (entries.empty()) {
    if (const std::string url = getConfigUrl(true, false); !url.empty()) {
      const std::string body = httpGet(withTimeStamp(url), {}, false);
      if (!body.empty()) loadPlatformDescriptor(body);
    }
    loadPackageConfig(false);
    loadPackageConfig(true);
  }
  checkConfig(L"");
  return requiredBytes();
}

std::uint64_t InstallMan::requiredBytes() const {
  std::lock_guard lock(entriesLock);
  std::uint64_t selectedBytes = 0;
  for (const auto& entry : entries)
    if (entry.selected) selectedBytes += entry.size;
  // The download and its extraction both need room.
  return selectedBytes + totalBytes;
}

void InstallMan::loadPlatformDescriptor(const std::string& text) {
  PlatformDescriptor descriptor = parsePlatformDescriptor(text);
  if (descriptor.outcome == DocumentOutcome::Malformed) return;
  platformVersion = descriptor.version;
  if (descriptor.outcome == DocumentOutcome::Entry) entries.push_back(std::move(descriptor.entry));
}

void InstallMan::loadPackageConfig(bool alternate) {
  const std::string url = getConfigUrl(false, alternate);
  if (url.empty()) return;
  std::string text = httpGet(withTimeStamp(url), {}, false);
  if (text.empty()) {
    if (alternate) return;
    text = defaultPackageConfig();
  }
  const std::string wantedVersion = isKestrix ? std::string("2.0") : toUtf8(gameEngineVersion);
  PackageDocument document = parsePackageConfig(text, wantedVersion);
  if (document.outcome == DocumentOutcome::Malformed) {
    if (isQv) TrackEvent(L"get_message_api_failed");
    return;
  }
  if (document.outcome == DocumentOutcome::NoEntry) return;
  document.entry.isAlternate = alternate;
  // In flavour qv the map information decides which packages are wanted.
  document.entry.selected = !isQv;
  entries.insert(entries.begin(), std::move(document.entry));
}

bool InstallMan::isConfigValid() {
  std::size_t urls = 0;
  for (const auto& url : {getConfigUrl(true, false), getConfigUrl(false, false), getConfigUrl(false, true)})
    if (!url.empty()) ++urls;
  bool valid = urls == entries.size();
  for (const auto& entry : entries) valid = valid && !entry.url.empty() && !entry.md5.empty();
  if (!valid && isQv) TrackEvent(L"invalid_config");
  return valid;
}

bool InstallMan::checkConfig(const std::wstring& installDir) {
  totalBytes = 0;
  if (!isConfigValid() || entries.empty()) return false;
  const std::wstring base = baseFolder(installDir);
  for (auto& entry : entries) {
    if (!entry.selected) continue;
    if (!base.empty()) entry.localPath = joinPath(base, fromUtf8(entry.fileName));
    if (entry.size == 0 && !entry.url.empty()) entry.size = probeContentLength(entry.url);
    totalBytes += entry.size;
    if (entry.size == 0) return false;
  }
  return true;
}

}  // namespace kx
