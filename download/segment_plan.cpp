#include "download/segment_plan.h"

#include <algorithm>

namespace kx {

std::vector<ResumeSegment> PlanSegments(const std::string& fileName, std::uint64_t size, bool supportResume,
                                        unsigned processors) {
  constexpr std::uint64_t kOneGiB = 1ull << 30;
  std::uint64_t count = 1;
  if (supportResume) {
    count = processors == 0 ? 2 : processors;
    count = std::min<std::uint64_t>(count, size < kOneGiB ? 3 : 9);
  }
  const std::uint64_t length = size / count;
  std::vector<ResumeSegment> segments(count);
  for (std::uint64_t i = 0; i < count; ++i) {
    ResumeSegment& segment = segments[i];
    segment.start = i * length;
    segment.length = i + 1 == count ? size - (count - 1) * length : length;
    segment.bRange = supportResume;
    segment.tmp = fileName + "_id_" + std::to_string(i);
  }
  return segments;
}

}  // namespace kx
