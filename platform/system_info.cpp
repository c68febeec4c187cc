#include "platform/system_info.h"

#include <sys/utsname.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

namespace kx::platform {

namespace {

std::atomic<unsigned> overrideCount{0};

std::string firstLine(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// PRETTY_NAME of os-release, unquoted.
std::string distributionName() {
  for (const char* file : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.starts_with("PRETTY_NAME=")) continue;
      std::string value = line.substr(12);
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
      return value;
    }
  }
  return {};
}

}  // namespace

unsigned processorCount() {
  if (const unsigned n = overrideCount.load()) return n;
  const unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

void setProcessorCount(unsigned count) { overrideCount = count; }

OperatingSystem operatingSystem() {
  OperatingSystem system;
  utsname names{};
  if (uname(&names) != 0) return system;
  system.known = true;
  std::sscanf(names.release, "%d.%d.%d", &system.major, &system.minor, &system.build);
  system.name = distributionName();
  if (system.name.empty()) system.name = names.sysname;
  return system;
}

bool hasBattery() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/sys/class/power_supply", ec))
    if (firstLine(entry.path() / "type") == "Battery") return true;
  return false;
}

unsigned systemLocaleId() {
  static const std::map<std::string, unsigned> ids{
      {"zh_TW", 1028}, {"en_US", 1033}, {"zh_CN", 2052}, {"en_GB", 2057}, {"zh_HK", 3076}, {"de_DE", 1031},
      {"fr_FR", 1036}, {"ja_JP", 1041}, {"ko_KR", 1042}, {"ru_RU", 1049}, {"es_ES", 3082}};
  std::string locale;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) {
      locale = value;
      break;
    }
  }
  locale = locale.substr(0, locale.find_first_of(".@"));
  const auto it = ids.find(locale);
  return it == ids.end() ? 0 : it->second;
}

}  // namespace kx::platform
