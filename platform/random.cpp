#include "platform/random.h"

#include <sys/random.h>

#include <cerrno>
#include <system_error>

namespace kx::platform {

void secureRandomBytes(std::span<std::uint8_t> out) {
  std::size_t filled = 0;
  while (filled < out.size()) {
    const ssize_t got = getrandom(out.data() + filled, out.size() - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "getrandom");
    }
    filled += static_cast<std::size_t>(got);
  }
}

}  // namespace kx::platform
