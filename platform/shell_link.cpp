#include "platform/shell_link.h"

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "common/little_endian.h"
#include "platform/atomic_file.h"
#include "platform/codepage.h"

namespace kx::platform {

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kHasLinkInfo = 0x02;
constexpr std::uint32_t kHasName = 0x04;
constexpr std::uint32_t kHasArguments = 0x20;
constexpr std::uint32_t kHasIconLocation = 0x40;
constexpr std::uint32_t kIsUnicode = 0x80;

constexpr std::uint32_t kAttributeDirectory = 0x10;
constexpr std::uint32_t kAttributeArchive = 0x20;
constexpr std::uint32_t kDriveFixed = 3;
constexpr std::uint32_t kShowNormal = 1;

// {00021401-0000-0000-C000-000000000046} in its on-disk byte order.
constexpr unsigned char kShellLinkClassId[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

std::u16string toUtf16(std::wstring_view text) {
  std::u16string out;
  for (wchar_t wc : text) {
    auto c = static_cast<std::uint32_t>(wc);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF && sizeof(wchar_t) > 2)) c = 0xFFFD;
    if (c > 0xFFFF) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::string utf16Bytes(const std::u16string& text) {
  std::string bytes;
  LittleEndianWriter w(bytes);
  for (char16_t c : text) w.u16(c);
  return bytes;
}

// The ANSI copy of the path that older readers use; characters outside ASCII
// become '?', as the system does for characters missing from its code page.
std::string ansiCopy(std::wstring_view text) {
  std::string out;
  for (wchar_t c : text) out += (c > 0 && c < 0x80) ? static_cast<char>(c) : '?';
  return out;
}

// Counted string of the StringData section: length in UTF-16 units, no NUL.
void countedString(LittleEndianWriter& w, std::wstring_view text) {
  const std::u16string utf16 = toUtf16(text);
  w.u16(static_cast<std::uint32_t>(utf16.size()));
  w.raw(utf16Bytes(utf16));
}

std::uint64_t fileTime(const timespec& t) {
  constexpr std::uint64_t kEpochDifference = 116444736000000000ULL;  // 1601 to 1970 in 100 ns
  if (t.tv_sec < 0) return 0;
  return kEpochDifference + static_cast<std::uint64_t>(t.tv_sec) * 10000000ULL +
         static_cast<std::uint64_t>(t.tv_nsec) / 100;
}

std::string linkInfo(std::wstring_view target) {
  constexpr std::uint32_t kHeaderSize = 0x24;
  constexpr std::uint32_t kVolumeIdSize = 0x11;  // four fields and an empty label
  const std::string ansi = ansiCopy(target) + '\0';
  const std::string unicode = utf16Bytes(toUtf16(target)) + std::string(2, '\0');
  const std::uint32_t localBasePath = kHeaderSize + kVolumeIdSize;
  const std::uint32_t suffix = localBasePath + static_cast<std::uint32_t>(ansi.size());
  const std::uint32_t localBasePathUnicode = suffix + 1;
  const std::uint32_t suffixUnicode = localBasePathUnicode + static_cast<std::uint32_t>(unicode.size());
  const std::uint32_t total = suffixUnicode + 2;

  std::string bytes;
  LittleEndianWriter w(bytes);
  w.u32(total);
  w.u32(kHeaderSize);
  w.u32(1);  // VolumeIDAndLocalBasePath
  w.u32(kHeaderSize);
  w.u32(localBasePath);
  w.u32(0);  // no network location
  w.u32(suffix);
  w.u32(localBasePathUnicode);
  w.u32(suffixUnicode);
  w.u32(kVolumeIdSize);
  w.u32(kDriveFixed);
  w.u32(0);     // serial number
  w.u32(0x10);  // label offset
  w.raw(std::string(1, '\0'));
  w.raw(ansi);
  w.raw(std::string(1, '\0'));
  w.raw(unicode);
  w.raw(std::string(2, '\0'));
  return bytes;
}

std::string encode(const ShellLink& link) {
  std::uint32_t flags = kHasLinkInfo | kIsUnicode;
  if (!link.description.empty()) flags |= kHasName;
  if (!link.arguments.empty()) flags |= kHasArguments;
  if (!link.iconPath.empty()) flags |= kHasIconLocation;

  // The header carries the target's attributes, times and size when it exists.
  struct stat info {};
  const bool targetExists = ::stat(wideToFileSystem(link.target).c_str(), &info) == 0;

  std::string bytes;
  LittleEndianWriter w(bytes);
  w.u32(0x4C);
  w.raw(std::string_view(reinterpret_cast<const char*>(kShellLinkClassId), sizeof kShellLinkClassId));
  w.u32(flags);
  w.u32(targetExists && S_ISDIR(info.st_mode) ? kAttributeDirectory : kAttributeArchive);
  w.u64(targetExists ? fileTime(info.st_ctim) : 0);
  w.u64(targetExists ? fileTime(info.st_atim) : 0);
  w.u64(targetExists ? fileTime(info.st_mtim) : 0);
  w.u32(targetExists ? static_cast<std::uint32_t>(info.st_size) : 0);
  w.u32(static_cast<std::uint32_t>(link.iconIndex));
  w.u32(kShowNormal);
  w.u16(0);  // hot key
  w.u16(0);
  w.u32(0);
  w.u32(0);
  w.raw(linkInfo(link.target));
  if (!link.description.empty()) countedString(w, link.description);
  if (!link.arguments.empty()) countedString(w, link.arguments);
  if (!link.iconPath.empty()) countedString(w, link.iconPath);
  w.u32(0);  // terminal block of the extra data
  return bytes;
}

}  // namespace

bool isPortableFileName(const std::wstring& name) {
  if (name.empty()) return false;
  for (wchar_t c : name)
    if (c < 0x20 || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) return false;
  return true;
}

bool writeShellLink(const std::wstring& linkPath, const ShellLink& link) {
  if (link.target.empty() || linkPath.empty()) return false;
  const fs::path path(wideToFileSystem(linkPath));
  if (!isPortableFileName(fileSystemToWide(path.filename().string()))) return false;
  std::error_code ec;
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  if (!fs::is_directory(folder, ec)) return false;
  return writeFileAtomically(path, encode(link));
}

}  // namespace kx::platform
