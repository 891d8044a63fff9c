#include "core/progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/cpp/test_support.h"

namespace vorrel {
namespace {

using namespace std::chrono_literals;

using test::FakeConsole;

TEST(StageProgress, StartLineAndClosingLineWithRate) {
  FakeConsole console;
  {
    auto stage = StageProgress::start("Taubin smooth", 5, console.io);
    // Finished within the same millisecond: the rate uses 0.001 s.
  }
  ASSERT_EQ(console.writes.size(), 2u);
  EXPECT_EQ(console.writes[0], "  Taubin smooth: starting (5 items)\n");
  EXPECT_EQ(console.writes[1], "\r  Taubin smooth: done 5 items in 0.00s (5.0k/s)        \n");
}

TEST(StageProgress, StageWithoutCountHasNoRateOrPercent) {
  FakeConsole console;
  auto stage = StageProgress::start("sdf band", 0, console.io);
  stage.update(7);
  console.time += 1500ms;
  stage.finish();
  ASSERT_EQ(console.writes.size(), 3u);
  EXPECT_EQ(console.writes[0], "  sdf band: starting (0 items)\n");
  EXPECT_EQ(console.writes[1], "\r  sdf band: 7 items  (7.0k/s)        ");
  EXPECT_EQ(console.writes[2], "\r  sdf band: done in 1.50s        \n");
}

TEST(StageProgress, UpdatesAreThrottledTo200Milliseconds) {
  FakeConsole console;
  auto stage = StageProgress::start("bilateral smooth", 4, console.io);
  console.time += 1s;
  stage.update(1);  // the first update always writes
  console.time += 199ms;
  stage.update(2);  // held back
  console.time += 1ms;
  stage.update(3);  // 200 ms after the last line
  ASSERT_EQ(console.writes.size(), 3u);
  EXPECT_EQ(console.writes[1], "\r  bilateral smooth:  25.0%  1 / 4  (1/s)        ");
  EXPECT_EQ(console.writes[2], "\r  bilateral smooth:  75.0%  3 / 4  (2/s)        ");
}

TEST(StageProgress, FinishThenDiscardWritesOneClosingLine) {
  FakeConsole console;
  {
    auto stage = StageProgress::start("marching cubes", 0, console.io);
    stage.finish();
    stage.finish();
  }
  EXPECT_EQ(console.writes.size(), 2u);
}

TEST(StageProgress, MovedFromReporterWritesNothing) {
  FakeConsole console;
  {
    auto first = StageProgress::start("voxelize", 0, console.io);
    StageProgress second(std::move(first));
  }
  EXPECT_EQ(console.writes.size(), 2u);
}

TEST(FormatRate, ThresholdsCompareTheUnroundedRate) {
  EXPECT_EQ(format_rate(999.6), "1000/s");
  EXPECT_EQ(format_rate(1000.0), "1.0k/s");
  EXPECT_EQ(format_rate(999999.0), "1000.0k/s");
  EXPECT_EQ(format_rate(2.5e6), "2.5M/s");
  EXPECT_EQ(format_rate(0.0), "0/s");
}

TEST(SecondsBetween, NegativeDifferencesCountAsZero) {
  ProgressIo::Clock::time_point t0{std::chrono::seconds(10)};
  EXPECT_EQ(seconds_between(t0, t0 - 5ms), 0.0);
  EXPECT_DOUBLE_EQ(seconds_between(t0, t0 + 1500ms), 1.5);
}

}  // namespace
}  // namespace vorrel
