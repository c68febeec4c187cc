#include "platform/trash.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <string>

#include "platform/codepage.h"
#include "platform/locations.h"

namespace kx::platform {

namespace {

namespace fs = std::filesystem;

// Path= holds the original location as a URL path (RFC 2396 escaping).
std::string escapePath(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
        std::string_view("/-_.~").find(static_cast<char>(c)) != std::string_view::npos) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0xF];
    }
  }
  return out;
}

std::string deletionDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

// Reserves a name in info/ by creating its .trashinfo exclusively, so two
// processes trashing files of the same name never take the same slot.
int reserveName(const fs::path& info, const fs::path& original, std::string& name) {
  const std::string stem = original.filename().stem().string();
  const std::string extension = original.filename().extension().string();
  const std::string content =
      "[Trash Info]\nPath=" + escapePath(original.string()) + "\nDeletionDate=" + deletionDate() + "\n";
  for (int n = 1; n < 10000; ++n) {
    name = n == 1 ? original.filename().string() : stem + "." + std::to_string(n) + extension;
    const fs::path file = info / (name + ".trashinfo");
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return errno;
    }
    const bool written = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    ::close(fd);
    if (written) return 0;
    ::unlink(file.c_str());
    return EIO;
  }
  return EEXIST;
}

// Renames into the trash; across file systems the item is copied and removed.
int moveItem(const fs::path& from, const fs::path& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return 0;
  if (errno != EXDEV) return errno;
  std::error_code ec;
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
  if (!ec) fs::remove_all(from, ec);
  if (!ec) return 0;
  fs::remove_all(to, ec);
  return EIO;
}

}  // namespace

int moveToTrash(const std::wstring& path) {
  std::error_code ec;
  const fs::path original = fs::absolute(fs::path(wideToFileSystem(path)), ec).lexically_normal();
  if (ec || original.filename().empty()) return EINVAL;
  if (!fs::exists(fs::symlink_status(original, ec))) return ENOENT;

  const fs::path trash = userDataFolder() / "Trash";
  // A new trash is private to its user, as the freedesktop.org trash rules ask.
  if (fs::create_directories(trash, ec)) fs::permissions(trash, fs::perms::owner_all, ec);
  fs::create_directories(trash / "files", ec);
  fs::create_directories(trash / "info", ec);

  std::string name;
  if (const int reserved = reserveName(trash / "info", original, name); reserved != 0) return reserved;
  const int moved = moveItem(original, trash / "files" / name);
  if (moved != 0) fs::remove(trash / "info" / (name + ".trashinfo"), ec);
  return moved;
}

}  // namespace kx::platform
