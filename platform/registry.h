#pragma once
// The registry store: keys holding REG_SZ values under three roots, with the
// Windows rules the installer relies on. Key and value names compare without
// regard to case; the empty value name is the key's default value. The store
// behaves as the registry does for a 32-bit process on 64-bit Windows:
// HKLM\SOFTWARE\... is the key HKLM\SOFTWARE\WOW6432Node\.... The Run and
// Uninstall keys that every Windows installation has exist from the start.
//
// HKCU is kept under the user's configuration folder, HKLM and HKCR under the
// machine folder (platform/locations.h), one human-readable JSON file per root.
// Writing the machine roots needs the rights to change that folder, which
// only an administrator (root) has. Every change is a locked
// read-modify-rename, so concurrent writers in different processes never lose
// each other's updates and a crash leaves the previous state.

#include <cstdint>
#include <string>
#include <string_view>

namespace kx::platform {

enum class RegistryRoot { CurrentUser, LocalMachine, ClassesRoot };

// Access masks as Windows defines them; only the write bits matter here.
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyAllAccess = 0xF003F;

enum class RegistryResult {
  Ok,
  NotFound,      // no such key or value
  AccessDenied,  // the key was opened without write rights, or the root may not be changed
  MoreData,      // the value does not fit the caller's buffer
  Failed,        // the store could not be read or written
};

class RegistryKey {
 public:
  // An unopened key; every operation on it fails.
  RegistryKey() = default;

  // Opens an existing key. Asking for write rights on a root this process may
  // not change is refused, as it is for an unelevated process on Windows.
  static RegistryResult open(RegistryRoot root, std::wstring_view path, std::uint32_t access, RegistryKey& key);
  // Opens the key with all rights, creating it and any missing parents.
  static RegistryResult create(RegistryRoot root, std::wstring_view path, RegistryKey& key);

  bool isOpen() const { return opened; }

  RegistryResult setString(std::wstring_view name, std::wstring_view data);
  // Fails with MoreData when the data with its terminating NUL, in UTF-16
  // bytes, exceeds `bufferBytes`.
  RegistryResult queryString(std::wstring_view name, std::size_t bufferBytes, std::wstring& data) const;
  RegistryResult deleteValue(std::wstring_view name);

 private:
  RegistryRoot root = RegistryRoot::CurrentUser;
  std::wstring path;  // canonical: redirected, no empty components
  std::uint32_t access = 0;
  bool opened = false;
};

// Sets a value, creating the key and its parents when missing (what the
// shell's SHSetValueW does).
RegistryResult setRegistryString(RegistryRoot root, std::wstring_view subkey, std::wstring_view name,
                                 std::wstring_view data);

}  // namespace kx::platform
