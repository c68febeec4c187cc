#pragma once
// Small file helpers shared by the download tests.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <string>

namespace kx::test {

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Equal bytes; a difference is told by its size or first offset, not by printing megabytes.
inline ::testing::AssertionResult sameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  if (actual.size() != expected.size())
    return ::testing::AssertionFailure() << actual.size() << " bytes where " << expected.size() << " were expected";
  std::size_t at = 0;
  while (actual[at] == expected[at]) ++at;
  return ::testing::AssertionFailure() << "the bytes differ from offset " << at;
}

inline void writeFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

inline std::wstring widePath(const std::string& path) { return std::wstring(path.begin(), path.end()); }

// While alive, this process cannot write at or beyond `bytes` into any file,
// the way a full disk refuses writes (root ignores read-only permissions).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, saved_.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
};

}  // namespace kx::test
