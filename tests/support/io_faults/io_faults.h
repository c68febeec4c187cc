#pragma once
// A test program that links this object takes over the C library's file calls
// that the installer's own code makes (open, pread, pwrite, fallocate,
// fdatasync, fsync, rename, close): each is passed on unchanged unless a test
// has armed a fault for the file, and, while recording, each call on a file
// under a watched folder is logged. This is how a full disk, a failing read or
// a failing close is shown on any machine, and how the order of flushes and
// renames is checked.
//
// Calls made inside shared libraries (libstdc++, libcurl) are not seen: only
// the code linked into the test program itself.

#include <cstdint>
#include <string>
#include <vector>

namespace kx::test::io {

enum class Call { Open, Read, Write, Allocate, DataSync, Sync, Rename, Close };

struct Event {
  Call call;
  std::string path;    // the file (for Rename: the new name)
  std::string from;    // Rename only: the old name
  std::uint64_t offset = 0;
  std::uint64_t length = 0;  // bytes written or read
  int error = 0;       // errno of a failed call, else 0
  std::string content;  // Rename only: what the renamed file held
};

// Every call on a file whose path starts with `folder` is logged from now on.
void record(const std::string& folder);
std::vector<Event> events();

// Makes `call` fail with `error` for files whose path ends with `suffix`,
// once `afterBytes` bytes have gone through that call (Write and Read count
// bytes; the others fail at once).
void fail(Call call, const std::string& suffix, int error, std::uint64_t afterBytes = 0);

// Forgets every fault and the log; recording stops.
void reset();

// Clears the faults and the log for the scope's end.
struct Scope {
  Scope() = default;
  ~Scope() { reset(); }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;
};

}  // namespace kx::test::io
