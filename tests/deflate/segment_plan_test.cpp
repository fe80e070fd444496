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

// The coder's wall time on each of its next `count` segments.
void CodeSegments(SegmentPlan& plan, int count, double ms) {
  for (int i = 0; i < count; ++i) {
    plan.CoderWall(ms * kMs, kSegment);
  }
}

// The coder alone takes 20 ms a segment; beside workers, as long as their
// records save it more than they take of its processor, less.
TEST(SegmentPlan, WorkersThatSpeedTheCoderUpKeepRecording) {
  SegmentPlan plan(1, kSegment);
  MeasureDumpLike(plan);
  PlanSegments(plan, 1);
  CodeSegments(plan, 1, 20);
  const std::string choices = PlanSegments(plan, 10);
  CodeSegments(plan, 10, 19);
  EXPECT_FALSE(plan.Crowded());
  EXPECT_NE(choices.find('R'), std::string::npos);
  EXPECT_NE(PlanSegments(plan, 3).find('R'), std::string::npos);
}

// Other programs hold the other core, and the workers' processor time comes
// out of the coder's: beside them it takes 30 ms a segment.
TEST(SegmentPlan, WorkersThatSlowTheCoderDownAreTriedAgainAfterDoublingWaits) {
  SegmentPlan plan(1, kSegment);
  MeasureDumpLike(plan);
  PlanSegments(plan, 1);
  CodeSegments(plan, 1, 20);
  PlanSegments(plan, 10);
  CodeSegments(plan, 8, 30);  // judged over 8 segments
  EXPECT_TRUE(plan.Crowded());
  EXPECT_EQ(plan.SearchedAhead(), 8u);
  CodeSegments(plan, 2, 5);  // planned beside workers before the coder went alone
  for (int wait : {8, 16, 32, 64, 64}) {
    std::string alone;
    for (int i = 0; i < wait; ++i) {  // the coder reads its input just ahead of itself
      alone += PlanSegments(plan, 1);
      CodeSegments(plan, 1, 20);
    }
    EXPECT_EQ(alone, std::string(wait, 'S'));
    const std::string again = PlanSegments(plan, 8);
    EXPECT_NE(again.find('R'), std::string::npos) << again;
    CodeSegments(plan, 8, 30);
    EXPECT_TRUE(plan.Crowded());
  }
  // The other programs are gone: beside workers the coder is faster again.
  PlanSegments(plan, 64);
  CodeSegments(plan, 64, 20);
  PlanSegments(plan, 8);
  CodeSegments(plan, 8, 12);
  EXPECT_FALSE(plan.Crowded());
  EXPECT_NE(PlanSegments(plan, 3).find('R'), std::string::npos);
}

}  // namespace
}  // namespace vaultwick
