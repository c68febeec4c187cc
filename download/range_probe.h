#pragma once

#include <string>

namespace kx {

// Whether the server answers a ranged HEAD request for `url` with a byte range.
// Any failure (no connection, time-out, no Content-Range) counts as no.
bool ProbeRangeSupport(const std::string& url);

}  // namespace kx
