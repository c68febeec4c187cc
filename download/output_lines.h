#pragma once
// Cuts a child's console output, arriving in arbitrary chunks, into lines.
// Both a carriage return and a line feed end a line (aria2 rewrites its
// progress line with carriage returns on a console); empty lines are dropped
// and a line cut by a chunk boundary is delivered once, whole.

#include <cstddef>
#include <functional>
#include <string>

namespace kx {

class OutputLines {
 public:
  void feed(const char* data, std::size_t size, const std::function<void(const std::string&)>& onLine);

 private:
  std::string carry_;
};

}  // namespace kx
