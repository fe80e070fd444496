// Who parses which segment decides only the threaded compressor's speed, so
// no stream test sees a plan that starves one side; these look at the plan's
// choices themselves, segment by segment ('S': the coder searches it, 'R': a
// worker records it).

#include "deflate/detail/segment_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace vaultwick {
namespace {

constexpr std::uint64_t kSegment = 1 << 20;
constexpr double kMs = 1e-3;

std::string PlanSegments(SegmentPlan& plan, int count) {
  std::string choices;
  for (int i = 0; i < count; ++i) {
    const bool recorded = plan.WantsRecords();
    plan.Planned(recorded);
    choices += recorded ? 'R' : 'S';
  }
  return choices;
}

// Costs of a dump-like input: following a fifth of searching, recording a
// little less than searching.
void MeasureDumpLike(SegmentPlan& plan) {
  plan.CoderSegment(CoderPass::Searched, 20 * kMs, kSegment);
  plan.CoderSegment(CoderPass::Followed, 4 * kMs, kSegment);
  plan.WorkerSegment(17 * kMs, kSegment);
}

TEST(SegmentPlan, OneWorkerLeavesTheCoderAShareSpreadAmongRecordedSegments) {
  SegmentPlan plan(1, kSegment);
  const std::string guessed = PlanSegments(plan, 101);
  EXPECT_EQ(guessed[0], 'S');  // the coder starts at once, no worker yet
  MeasureDumpLike(plan);
  const std::string measured = PlanSegments(plan, 100);
  for (const std::string& choices : {guessed.substr(1), measured}) {
    // Both sides busy: (17 - 4) / (17 - 4 + 20) of the segments are the coder's.
    const auto searched = std::count(choices.begin(), choices.end(), 'S');
    EXPECT_GE(searched, 38) << choices;
    EXPECT_LE(searched, 41) << choices;
    EXPECT_EQ(choices.find("SS"), std::string::npos) << choices;
  }
}

TEST(SegmentPlan, WorkersThatOutpaceTheCoderRecordEverySegment) {
  SegmentPlan plan(8, kSegment);
  MeasureDumpLike(plan);
  EXPECT_EQ(PlanSegments(plan, 20), "S" + std::string(19, 'R'));
  // Fewer workers started than planned for: the coder takes its share again.
  plan.SetWorkers(1);
  EXPECT_NE(PlanSegments(plan, 10).find('S'), std::string::npos);
}

TEST(SegmentPlan, RecordsThatSaveTheCoderNothingAreOnlyRefreshed) {
  SegmentPlan plan(1, kSegment);
  plan.CoderSegment(CoderPass::Searched, 20 * kMs, kSegment);
  plan.CoderSegment(CoderPass::Followed, 20 * kMs, kSegment);
  const std::string refresh = std::string(16, 'S') + "R";
  EXPECT_EQ(PlanSegments(plan, 34), refresh + refresh);
}

TEST(SegmentPlan, RecordsThatDoNotMeetAreTriedAgainAfterDoublingWaits) {
  SegmentPlan plan(8, kSegment);
  MeasureDumpLike(plan);
  EXPECT_EQ(PlanSegments(plan, 2), "SR");
  std::string expected;
  std::string planned;
  for (int wait : {2, 4, 8, 16, 32, 64, 64}) {
    plan.RecordsMet(false);
    EXPECT_TRUE(plan.Probing());
    expected += std::string(wait, 'S') + "R";
    planned += PlanSegments(plan, wait + 1);
  }
  EXPECT_EQ(planned, expected);
  plan.RecordsMet(true);
  EXPECT_FALSE(plan.Probing());
  EXPECT_EQ(PlanSegments(plan, 5), "RRRRR");
}

TEST(SegmentPlan, InputTheCoderSearchesVeryFastStaysWithItUntilItSlows) {
  SegmentPlan plan(8, kSegment);
  MeasureDumpLike(plan);
  PlanSegments(plan, 1);
  for (int i = 0; i < 5; ++i) {
    plan.CoderSegment(CoderPass::Searched, 1 * kMs, kSegment);  // a long run
  }
  EXPECT_TRUE(plan.Cheap());
  EXPECT_EQ(PlanSegments(plan, 40), std::string(40, 'S'));
  plan.CoderSegment(CoderPass::Searched, 30 * kMs, kSegment);  // text again
  EXPECT_FALSE(plan.Cheap());
  EXPECT_EQ(PlanSegments(plan, 3), "RRR");
}

}  // namespace
}  // namespace vaultwick
