#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <vector>

#include "common/strings.h"
#include "platform/atomic_file.h"
#include "platform/locations.h"

namespace kx::platform {

namespace {

namespace fs = std::filesystem;

// Keys in the order they were created: path -> { value name -> data }.
using Store = nlohmann::ordered_json;

constexpr std::uint32_t kKeySetValue = 0x0002;
constexpr std::uint32_t kWriteRights = 0x000D0006;  // set value, create subkey, delete, write DAC/owner

struct Hive {
  fs::path folder;
  fs::path file;
};

Hive hiveOf(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::CurrentUser: {
      const auto folder = userConfigFolder() / "kestrix" / "registry";
      return {folder, folder / "HKEY_CURRENT_USER.json"};
    }
    case RegistryRoot::LocalMachine:
      return {machineFolder() / "registry", machineFolder() / "registry" / "HKEY_LOCAL_MACHINE.json"};
    case RegistryRoot::ClassesRoot:
      break;
  }
  return {machineFolder() / "registry", machineFolder() / "registry" / "HKEY_CLASSES_ROOT.json"};
}

std::wstring foldCase(std::wstring_view text) {
  std::wstring folded(text);
  for (auto& c : folded) c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
  return folded;
}

bool sameName(std::wstring_view a, std::wstring_view b) { return foldCase(a) == foldCase(b); }

// Splits on backslashes, drops empty components and applies the 32-bit view's
// redirection of HKLM\SOFTWARE.
std::wstring canonicalPath(RegistryRoot root, std::wstring_view path) {
  std::vector<std::wstring> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(L'\\', start);
    if (end == std::wstring_view::npos) end = path.size();
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  if (root == RegistryRoot::LocalMachine && !parts.empty() && sameName(parts[0], L"SOFTWARE") &&
      !(parts.size() > 1 && sameName(parts[1], L"WOW6432Node")))
    parts.insert(parts.begin() + 1, L"WOW6432Node");
  std::wstring joined;
  for (const auto& part : parts) {
    if (!joined.empty()) joined += L'\\';
    joined += part;
  }
  return joined;
}

// Reads a root's file; a missing file is an empty store. A damaged file is
// never treated as empty, so that a write cannot wipe it.
bool loadStore(const fs::path& file, Store& store) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::error_code ec;
    if (fs::exists(file, ec) || ec) return false;
    store = Store::object();
    return true;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  store = Store::parse(text, nullptr, false);
  return !store.is_discarded() && store.is_object();
}

Store::iterator findKey(Store& store, const std::wstring& path) {
  for (auto it = store.begin(); it != store.end(); ++it)
    if (sameName(fromUtf8(it.key()), path)) return it;
  return store.end();
}

// Keys every Windows installation has, in their canonical (redirected) form.
bool isStandardKey(RegistryRoot root, const std::wstring& folded) {
  static const std::wstring kMachineKeys[] = {
      L"software\\wow6432node\\microsoft\\windows\\currentversion\\run",
      L"software\\wow6432node\\microsoft\\windows\\currentversion\\uninstall"};
  static const std::wstring kUserKeys[] = {L"software\\microsoft\\windows\\currentversion\\run"};
  const auto covers = [&](const std::wstring& standard) {
    return standard == folded || standard.starts_with(folded + L'\\');
  };
  if (root == RegistryRoot::LocalMachine) return std::any_of(std::begin(kMachineKeys), std::end(kMachineKeys), covers);
  if (root == RegistryRoot::CurrentUser) return std::any_of(std::begin(kUserKeys), std::end(kUserKeys), covers);
  return false;
}

// A key exists when it was created itself, when one below it was, or when
// Windows always has it.
bool keyExists(RegistryRoot root, Store& store, const std::wstring& path) {
  if (isStandardKey(root, foldCase(path))) return true;
  const std::wstring prefix = foldCase(path) + L'\\';
  for (auto it = store.begin(); it != store.end(); ++it) {
    const std::wstring key = foldCase(fromUtf8(it.key()));
    if (key + L'\\' == prefix || key.starts_with(prefix)) return true;
  }
  return false;
}

Store::iterator findValue(Store& values, std::wstring_view name) {
  for (auto it = values.begin(); it != values.end(); ++it)
    if (sameName(fromUtf8(it.key()), name)) return it;
  return values.end();
}

// The process may change a root when it can create files in its folder.
bool mayChange(const Hive& hive) {
  std::error_code ec;
  fs::create_directories(hive.folder, ec);
  return ::access(hive.folder.c_str(), W_OK) == 0;
}

class HiveLock {
 public:
  explicit HiveLock(const Hive& hive)
      : fd(::open((hive.file.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (fd >= 0 && ::flock(fd, LOCK_EX) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  ~HiveLock() {
    if (fd >= 0) ::close(fd);  // closing releases the lock
  }
  HiveLock(const HiveLock&) = delete;
  HiveLock& operator=(const HiveLock&) = delete;
  bool held() const { return fd >= 0; }

 private:
  int fd;
};

// Applies `change` to the root's store under its lock and saves the result
// when `change` answers Ok.
template <typename Change>
RegistryResult modify(RegistryRoot root, Change change) {
  const Hive hive = hiveOf(root);
  if (!mayChange(hive)) return RegistryResult::AccessDenied;
  HiveLock lock(hive);
  if (!lock.held()) return RegistryResult::Failed;
  Store store;
  if (!loadStore(hive.file, store)) return RegistryResult::Failed;
  const RegistryResult result = change(store);
  if (result != RegistryResult::Ok) return result;
  return writeFileAtomically(hive.file, store.dump(2) + "\n") ? RegistryResult::Ok : RegistryResult::Failed;
}

void setValue(Store& store, const std::wstring& path, std::wstring_view name, std::wstring_view data) {
  auto key = findKey(store, path);
  if (key == store.end()) key = store.emplace(toUtf8(path), Store::object()).first;
  auto& values = key.value();
  auto value = findValue(values, name);
  if (value != values.end())
    value.value() = toUtf8(data);
  else
    values[toUtf8(name)] = toUtf8(data);
}

}  // namespace

RegistryResult RegistryKey::open(RegistryRoot root, std::wstring_view path, std::uint32_t access, RegistryKey& key) {
  const Hive hive = hiveOf(root);
  if ((access & kWriteRights) != 0 && !mayChange(hive)) return RegistryResult::AccessDenied;
  Store store;
  if (!loadStore(hive.file, store)) return RegistryResult::Failed;
  const std::wstring canonical = canonicalPath(root, path);
  if (!canonical.empty() && !keyExists(root, store, canonical)) return RegistryResult::NotFound;
  key.root = root;
  key.path = canonical;
  key.access = access;
  key.opened = true;
  return RegistryResult::Ok;
}

RegistryResult RegistryKey::create(RegistryRoot root, std::wstring_view path, RegistryKey& key) {
  const std::wstring canonical = canonicalPath(root, path);
  const RegistryResult result = modify(root, [&](Store& store) {
    if (!keyExists(root, store, canonical)) store[toUtf8(canonical)] = Store::object();
    return RegistryResult::Ok;
  });
  if (result != RegistryResult::Ok) return result;
  key.root = root;
  key.path = canonical;
  key.access = kKeyAllAccess;
  key.opened = true;
  return RegistryResult::Ok;
}

RegistryResult RegistryKey::setString(std::wstring_view name, std::wstring_view data) {
  if (!opened || (access & kKeySetValue) == 0) return RegistryResult::AccessDenied;
  return modify(root, [&](Store& store) {
    if (!keyExists(root, store, path)) return RegistryResult::NotFound;  // deleted since it was opened
    setValue(store, path, name, data);
    return RegistryResult::Ok;
  });
}

RegistryResult RegistryKey::queryString(std::wstring_view name, std::size_t bufferBytes, std::wstring& data) const {
  if (!opened || (access & kKeyQueryValue) == 0) return RegistryResult::AccessDenied;
  Store store;
  if (!loadStore(hiveOf(root).file, store)) return RegistryResult::Failed;
  const auto key = findKey(store, path);
  if (key == store.end()) return RegistryResult::NotFound;
  const auto value = findValue(key.value(), name);
  if (value == key.value().end() || !value.value().is_string()) return RegistryResult::NotFound;
  const std::wstring text = fromUtf8(value.value().get<std::string>());
  // UTF-16 code units, as the system measures REG_SZ data.
  std::size_t units = 1;
  for (wchar_t c : text) units += static_cast<std::uint32_t>(c) > 0xFFFF ? 2 : 1;
  if (units * 2 > bufferBytes) return RegistryResult::MoreData;
  data = text;
  return RegistryResult::Ok;
}

RegistryResult RegistryKey::deleteValue(std::wstring_view name) {
  if (!opened || (access & kKeySetValue) == 0) return RegistryResult::AccessDenied;
  return modify(root, [&](Store& store) {
    const auto key = findKey(store, path);
    if (key == store.end()) return RegistryResult::NotFound;
    auto& values = key.value();
    const auto value = findValue(values, name);
    if (value == values.end()) return RegistryResult::NotFound;
    values.erase(value.key());
    return RegistryResult::Ok;
  });
}

RegistryResult setRegistryString(RegistryRoot root, std::wstring_view subkey, std::wstring_view name,
                                 std::wstring_view data) {
  const std::wstring path = canonicalPath(root, subkey);
  return modify(root, [&](Store& store) {
    setValue(store, path, name, data);
    return RegistryResult::Ok;
  });
}

}  // namespace kx::platform
