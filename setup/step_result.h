#pragma once
// What one installation step came to. A failed step carries its reason in
// words ("lumlum/Editor.exe: Write failed: No space left on device"), for
// the one line the installation writes about it.

#include <string>
#include <utility>

namespace kx {

struct StepResult {
  static StepResult success() { return {}; }
  static StepResult failure(std::string reason) { return {false, std::move(reason)}; }

  explicit operator bool() const { return ok; }

  bool ok = true;
  std::string reason;
};

}  // namespace kx
