#include "install_manager/package_document.h"

#include <charconv>
#include <optional>
#include <vector>
#include <cmath>
#include <nlohmann/json.hpp>

namespace kx {

namespace {

using nlohmann::json;

// Parses without exceptions; a text that is not JSON gives a discarded value.
json parseJson(std::string_view text) { return json::parse(text.begin(), text.end(), nullptr, false); }

const std::string* stringMember(const json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? &it->get_ref<const std::string&>() : nullptr;
}

// A byte count: a non-negative integer no larger than any real package could be.
std::optional<std::uint64_t> sizeMember(const json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end()) return std::nullopt;
  std::uint64_t size;
  if (it->is_number_unsigned())
    size = it->get<std::uint64_t>();
  else if (it->is_number_integer() && it->get<std::int64_t>() >= 0)
    size = static_cast<std::uint64_t>(it->get<std::int64_t>());
  else
    return std::nullopt;  // negative, fractional, too large for 64 bits, or not a number
  if (size > kMaxPackageSize) return std::nullopt;
  return size;
}

// A name that stays one entry inside its folder on every file system we write to.
bool isSafePathSegment(std::string_view name) {
  if (name.empty() || name.size() > 255 || name == "." || name == "..") return false;
  if (name.back() == '.' || name.back() == ' ') return false;  // Windows drops them silently
  for (const unsigned char c : name)
    if (c < 0x20 || c == 0x7f || std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos)
      return false;
  return true;
}

// 32 hex digits, returned in lower case; empty when `text` is not an MD5 digest.
std::string normalisedMd5(const std::string& text) {
  if (text.size() != 32) return {};
  std::string lower;
  for (char c : text) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return {};
    lower += c;
  }
  return lower;
}

// The four fields one package record holds, as the document gave them.
struct PackageRecord {
  std::string url, md5, bigVersion;
  std::uint64_t size = 0;
};

std::optional<PackageRecord> readRecord(const json& object) {
  if (!object.is_object()) return std::nullopt;
  const auto* url = stringMember(object, "game_url");
  const auto* md5 = stringMember(object, "md5");
  const auto* bigVersion = stringMember(object, "big_version");
  const auto size = sizeMember(object, "size");
  if (!url || !md5 || !bigVersion || !size) return std::nullopt;
  return PackageRecord{*url, *md5, *bigVersion, *size};
}

// Fills `entry` from a download location, a digest and a size; false when any
// of them is unusable, leaving `entry` untouched.
bool fillDownload(PackageEntry& entry, const std::string& url, const std::string& md5, std::uint64_t size) {
  std::string fileName = downloadFileName(url);
  std::string digest = normalisedMd5(md5);
  if (fileName.empty() || digest.empty()) return false;
  entry.fileName = std::move(fileName);
  entry.url = url;
  entry.md5 = std::move(digest);
  entry.size = size;
  return true;
}

PackageDocument packageFrom(const PackageRecord& record) {
  PackageDocument document;
  if (record.url.empty()) {
    document.outcome = DocumentOutcome::NoEntry;
    return document;
  }
  // The version names the installation folder, so it must be one plain folder name.
  if (!isSafePathSegment(record.bigVersion)) return document;
  PackageEntry entry;
  if (!fillDownload(entry, record.url, record.md5, record.size)) return document;
  entry.bigVersion = record.bigVersion;
  entry.isPackage = true;
  document.entry = std::move(entry);
  document.outcome = DocumentOutcome::Entry;
  return document;
}

}  // namespace

PlatformDescriptor parsePlatformDescriptor(std::string_view text) {
  PlatformDescriptor descriptor;
  const json document = parseJson(text);
  if (!document.is_object()) return descriptor;
  const auto* version = stringMember(document, "version");
  const auto* url = stringMember(document, "platform");
  const auto* md5 = stringMember(document, "md5");
  const auto size = sizeMember(document, "size");
  if (!version || !url || !md5 || !size) return descriptor;
  if (url->empty()) {
    descriptor.version = *version;
    descriptor.outcome = DocumentOutcome::NoEntry;
    return descriptor;
  }
  PackageEntry entry;
  if (!fillDownload(entry, *url, *md5, *size)) return descriptor;
  entry.isPlatformInstaller = true;
  descriptor.version = *version;
  descriptor.entry = std::move(entry);
  descriptor.outcome = DocumentOutcome::Entry;
  return descriptor;
}

PackageDocument parsePackageConfig(std::string_view text, const std::string& wantedVersion) {
  const json document = parseJson(text);
  if (!document.is_object()) return {};
  if (document.contains("game_url")) {
    const auto record = readRecord(document);
    if (!record || record->url.empty()) return {};
    return packageFrom(*record);
  }

  // Versioned: every member must be a record; members come in ascending key order.
  std::vector<PackageRecord> records;
  for (const auto& [key, member] : document.items()) {
    auto record = readRecord(member);
    if (!record) return {};
    records.push_back(std::move(*record));
  }
  const PackageRecord* taken = nullptr;
  for (const auto& record : records) {
    if (!wantedVersion.empty()) {
      if (record.bigVersion == wantedVersion) {
        taken = &record;
        break;
      }
    } else if (!taken || leadingDecimal(record.bigVersion) > leadingDecimal(taken->bigVersion)) {
      taken = &record;
    }
  }
  if (!taken) return {DocumentOutcome::NoEntry, {}};
  return packageFrom(*taken);
}

double leadingDecimal(std::string_view text) {
  std::size_t end = 0, integerDigits = 0, fractionDigits = 0;
  while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end, ++integerDigits;
  if (end < text.size() && text[end] == '.') {
    std::size_t after = end + 1;
    while (after < text.size() && text[after] >= '0' && text[after] <= '9') ++after, ++fractionDigits;
    if (integerDigits + fractionDigits > 0) end = after;
  }
  if (integerDigits + fractionDigits == 0) return 0;
  const std::string_view number = text.substr(0, end);
  double value = 0;
  const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value,
                                         std::chars_format::fixed);
  if (ec == std::errc::result_out_of_range)
    return number.substr(0, integerDigits).find_first_not_of('0') == std::string_view::npos ? 0.0 : HUGE_VAL;
  return ec == std::errc() ? value : 0.0;
}

std::string downloadFileName(std::string_view url) {
  const auto scheme = url.find("://");
  if (scheme == std::string_view::npos) return {};
  std::string lowerScheme(url.substr(0, scheme));
  for (auto& c : lowerScheme)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (lowerScheme != "http" && lowerScheme != "https") return {};
  std::string_view rest = url.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("?#"));
  const auto pathStart = rest.find('/');
  if (pathStart == std::string_view::npos) return {};
  const std::string_view name = rest.substr(rest.rfind('/') + 1);
  return isSafePathSegment(name) ? std::string(name) : std::string();
}

}  // namespace kx
