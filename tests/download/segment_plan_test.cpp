#include "download/segment_plan.h"

#include <gtest/gtest.h>

namespace kx {
namespace {

struct Expected {
  std::uint64_t start, length;
};

TEST(PlanSegments, SplitsByProcessorsAndSize) {
  struct Case {
    std::uint64_t size;
    bool ranges;
    unsigned processors;
    std::vector<Expected> segments;
  };
  const std::uint64_t gib = 1ull << 30;
  const std::vector<Case> cases = {
      {1000, true, 8, {{0, 333}, {333, 333}, {666, 334}}},
      {1000, true, 2, {{0, 500}, {500, 500}}},
      {1000, true, 0, {{0, 500}, {500, 500}}},  // unknown processor count
      {1000, false, 8, {{0, 1000}}},
      {gib - 1, true, 16, {{0, 357913941}, {357913941, 357913941}, {715827882, 357913941}}},
      {gib, true, 4, {{0, gib / 4}, {gib / 4, gib / 4}, {gib / 2, gib / 4}, {3 * gib / 4, gib / 4}}},
  };
  for (const Case& c : cases) {
    const auto plan = PlanSegments("pkg.zip", c.size, c.ranges, c.processors);
    ASSERT_EQ(plan.size(), c.segments.size()) << c.size << " " << c.processors;
    for (std::size_t i = 0; i < plan.size(); ++i) {
      EXPECT_EQ(plan[i].start, c.segments[i].start);
      EXPECT_EQ(plan[i].length, c.segments[i].length);
      EXPECT_EQ(plan[i].bRange, c.ranges);
      EXPECT_EQ(plan[i].seek, 0u);
      EXPECT_FALSE(plan[i].bFinished);
      EXPECT_EQ(plan[i].tmp, "pkg.zip_id_" + std::to_string(i));
    }
  }
}

TEST(PlanSegments, LargeFilesUseAtMostNineSegments) {
  const auto plan = PlanSegments("pkg.zip", 3221225472ull, true, 16);
  ASSERT_EQ(plan.size(), 9u);
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(plan[i].length, 357913941u);
  EXPECT_EQ(plan[8].start, 8 * 357913941ull);
  EXPECT_EQ(plan[8].length, 357913944u);
}

}  // namespace
}  // namespace kx
