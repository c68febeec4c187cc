// Definitions of the C library's file calls that take precedence over the C
// library's own for the code linked into the test program; each finds the real
// one with dlsym(RTLD_NEXT) and passes the call on unless a fault is armed.
#undef _FORTIFY_SOURCE
#include "tests/support/io_faults/io_faults.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>

namespace kx::test::io {

namespace {

struct Fault {
  Call call;
  std::string suffix;
  int error;
  std::uint64_t afterBytes;
  std::uint64_t seen = 0;
};

struct State {
  std::mutex lock;
  std::string folder;  // empty: not recording
  std::vector<Event> log;
  std::vector<Fault> faults;
};

State& state() {
  static State* s = new State;  // never destroyed: calls may come during exit
  return *s;
}

std::atomic<bool> active{false};

template <typename F>
F real(const char* name) {
  static_assert(sizeof(F) == sizeof(void*));
  void* symbol = dlsym(RTLD_NEXT, name);
  if (!symbol) {
    std::fprintf(stderr, "io_faults: no %s in the C library\n", name);
    std::abort();
  }
  return reinterpret_cast<F>(symbol);
}

std::string pathOf(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[4096];
  const ssize_t n = ::readlink(link, target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

std::string contentOf(const char* path) {
  std::string content;
  if (std::FILE* file = std::fopen(path, "rb")) {
    char block[4096];
    while (const std::size_t n = std::fread(block, 1, sizeof block, file)) content.append(block, n);
    std::fclose(file);
  }
  return content;
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The errno to fail with, or 0 to let the call through; `bytes` is what the call would move.
int faultFor(Call call, const std::string& path, std::uint64_t bytes) {
  State& s = state();
  std::lock_guard guard(s.lock);
  for (Fault& fault : s.faults) {
    if (fault.call != call || !endsWith(path, fault.suffix)) continue;
    if (fault.seen + bytes > fault.afterBytes || (bytes == 0 && fault.seen >= fault.afterBytes)) return fault.error;
    fault.seen += bytes;
  }
  return 0;
}

void log(Event event) {
  State& s = state();
  std::lock_guard guard(s.lock);
  if (s.folder.empty() || event.path.compare(0, s.folder.size(), s.folder) != 0) return;
  s.log.push_back(std::move(event));
}

// Runs `call` unless a fault is armed for `path`; logs the outcome.
template <typename Run>
auto guarded(Call kind, const std::string& path, std::uint64_t offset, std::uint64_t bytes, Run run) {
  using Result = decltype(run());
  if (!active) return run();
  if (const int error = faultFor(kind, path, bytes)) {
    log({kind, path, {}, offset, 0, error, {}});
    errno = error;
    return static_cast<Result>(-1);
  }
  const Result result = run();
  const int error = result < 0 ? errno : 0;
  log({kind, path, {}, offset, result > 0 && kind != Call::Open ? static_cast<std::uint64_t>(result) : 0, error, {}});
  errno = error;
  return result;
}

int openFile(const char* name, const char* path, int flags, va_list args) {
  using Open = int (*)(const char*, int, ...);
  static const Open open = real<Open>(name);
  mode_t mode = 0;
  if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) mode = static_cast<mode_t>(va_arg(args, int));
  return guarded(Call::Open, path, 0, 0, [&] { return open(path, flags, mode); });
}

ssize_t readAt(const char* name, int fd, void* buffer, size_t count, off_t offset) {
  using Read = ssize_t (*)(int, void*, size_t, off_t);
  static const Read read = real<Read>(name);
  return guarded(Call::Read, pathOf(fd), static_cast<std::uint64_t>(offset), count,
                 [&] { return read(fd, buffer, count, offset); });
}

ssize_t writeAt(const char* name, int fd, const void* data, size_t count, off_t offset) {
  using Write = ssize_t (*)(int, const void*, size_t, off_t);
  static const Write write = real<Write>(name);
  return guarded(Call::Write, pathOf(fd), static_cast<std::uint64_t>(offset), count,
                 [&] { return write(fd, data, count, offset); });
}

int allocate(const char* name, int fd, int mode, off_t offset, off_t length) {
  using Allocate = int (*)(int, int, off_t, off_t);
  static const Allocate allocate = real<Allocate>(name);
  return guarded(Call::Allocate, pathOf(fd), static_cast<std::uint64_t>(offset), 0,
                 [&] { return allocate(fd, mode, offset, length); });
}

}  // namespace

void record(const std::string& folder) {
  State& s = state();
  std::lock_guard guard(s.lock);
  s.folder = folder;
  s.log.clear();
  active = true;
}

std::vector<Event> events() {
  State& s = state();
  std::lock_guard guard(s.lock);
  return s.log;
}

void fail(Call call, const std::string& suffix, int error, std::uint64_t afterBytes) {
  State& s = state();
  std::lock_guard guard(s.lock);
  s.faults.push_back({call, suffix, error, afterBytes});
  active = true;
}

void reset() {
  State& s = state();
  std::lock_guard guard(s.lock);
  s.faults.clear();
  s.log.clear();
  s.folder.clear();
  active = false;
}

}  // namespace kx::test::io

using kx::test::io::Call;

extern "C" {

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int fd = kx::test::io::openFile("open", path, flags, args);
  va_end(args);
  return fd;
}

int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int fd = kx::test::io::openFile("open64", path, flags, args);
  va_end(args);
  return fd;
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  return kx::test::io::readAt("pread", fd, buffer, count, offset);
}
ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) {
  return kx::test::io::readAt("pread64", fd, buffer, count, offset);
}
ssize_t pwrite(int fd, const void* data, size_t count, off_t offset) {
  return kx::test::io::writeAt("pwrite", fd, data, count, offset);
}
ssize_t pwrite64(int fd, const void* data, size_t count, off_t offset) {
  return kx::test::io::writeAt("pwrite64", fd, data, count, offset);
}
int fallocate(int fd, int mode, off_t offset, off_t length) {
  return kx::test::io::allocate("fallocate", fd, mode, offset, length);
}
int fallocate64(int fd, int mode, off_t offset, off_t length) {
  return kx::test::io::allocate("fallocate64", fd, mode, offset, length);
}

int fdatasync(int fd) {
  using Sync = int (*)(int);
  static const Sync sync = kx::test::io::real<Sync>("fdatasync");
  return kx::test::io::guarded(Call::DataSync, kx::test::io::pathOf(fd), 0, 0, [&] { return sync(fd); });
}

int fsync(int fd) {
  using Sync = int (*)(int);
  static const Sync sync = kx::test::io::real<Sync>("fsync");
  return kx::test::io::guarded(Call::Sync, kx::test::io::pathOf(fd), 0, 0, [&] { return sync(fd); });
}

int close(int fd) {
  using Close = int (*)(int);
  static const Close close = kx::test::io::real<Close>("close");
  if (!kx::test::io::active) return close(fd);
  return kx::test::io::guarded(Call::Close, kx::test::io::pathOf(fd), 0, 0, [&] { return close(fd); });
}

int rename(const char* from, const char* to) {
  using Rename = int (*)(const char*, const char*);
  static const Rename rename = kx::test::io::real<Rename>("rename");
  if (!kx::test::io::active) return rename(from, to);
  if (const int error = kx::test::io::faultFor(Call::Rename, to, 0)) {
    kx::test::io::log({Call::Rename, to, from, 0, 0, error, {}});
    errno = error;
    return -1;
  }
  std::string content = kx::test::io::contentOf(from);
  const int result = rename(from, to);
  const int error = result < 0 ? errno : 0;
  kx::test::io::log({Call::Rename, to, from, 0, 0, error, std::move(content)});
  errno = error;
  return result;
}

}  // extern "C"
