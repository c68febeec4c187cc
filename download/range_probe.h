#pragma once

#include <atomic>
#include <string>

namespace kx {

// What a ranged HEAD request for the package says about it.
struct RangeProbe {
  enum class Answer {
    Ranges,    // the server answered with a byte range
    NoRanges,  // the server answered, without one: the file comes over one connection
    Failed,    // no usable answer (no connection, time-out, an error status): ask again later
  };
  Answer answer = Answer::Failed;
  // The file's strong ETag, else its Last-Modified; empty when the server gave neither.
  std::string validator;
};

// Asks the server about `url` with a HEAD request for its first two bytes. The
// request ends early once `stop` is set.
RangeProbe ProbeRangeSupport(const std::string& url, const std::atomic<bool>& stop);

}  // namespace kx
