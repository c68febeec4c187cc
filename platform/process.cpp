#include "platform/process.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/codepage.h"

namespace kx::platform {

namespace {

std::vector<std::wstring> readCommandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  if (!in) return {};
  const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::wstring> args;
  std::size_t start = 0;
  while (start < raw.size()) {
    std::size_t end = raw.find('\0', start);
    if (end == std::string::npos) end = raw.size();
    args.push_back(fileSystemToWide(raw.substr(start, end - start)));
    start = end + 1;
  }
  return args;
}

}  // namespace

const std::vector<std::wstring>& processArguments() {
  static const std::vector<std::wstring> args = readCommandLine();
  return args;
}

std::wstring executablePath() {
  std::error_code ec;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::wstring() : fileSystemToWide(path.string());
}

unsigned currentProcessId() { return static_cast<unsigned>(::getpid()); }

unsigned currentThreadId() { return static_cast<unsigned>(::gettid()); }

}  // namespace kx::platform
