#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "download/resume_record.h"

namespace kx {

// Splits a file of `size` bytes into equal byte ranges (the last takes the
// remainder): one without a Range header when the server has no range support,
// else one per processor (2 when unknown), at most 3 below 1 GiB and 9 above.
// Segment i is named `fileName` + "_id_" + i.
std::vector<ResumeSegment> PlanSegments(const std::string& fileName, std::uint64_t size, bool supportResume,
                                        unsigned processors);

}  // namespace kx
