#include "download/output_lines.h"

namespace kx {

void OutputLines::feed(const char* data, std::size_t size, const std::function<void(const std::string&)>& onLine) {
  std::size_t pieceStart = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] != '\r' && data[i] != '\n') continue;
    carry_.append(data + pieceStart, i - pieceStart);
    pieceStart = i + 1;
    if (carry_.empty()) continue;
    onLine(carry_);
    carry_.clear();
  }
  carry_.append(data + pieceStart, size - pieceStart);
}

}  // namespace kx
