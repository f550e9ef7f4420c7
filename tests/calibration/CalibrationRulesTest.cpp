// The pure rules under the dialog and the target window: the number check,
// target positions, cross size and ring radii, and the reply hand-over
// between threads.
#include <gtest/gtest.h>

#include <thread>

#include "calibration/CalibrationReplyQueue.h"
#include "calibration/TargetGeometry.h"
#include "calibration/ValidateNumber.h"

namespace {

TEST(CheckNumber, TimeAndRangeFields) {
  struct Case {
    const char* text;
    std::int32_t min, max;
    NumberCheck::Result result;
    std::int32_t value;
  };
  const Case cases[] = {
      {"500", 500, 10000, NumberCheck::kValid, 500},
      {"10000", 500, 10000, NumberCheck::kValid, 10000},
      {"499", 500, 10000, NumberCheck::kOutOfRange, 0},
      {"10001", 500, 10000, NumberCheck::kOutOfRange, 0},
      {"1", 1, 50, NumberCheck::kValid, 1},
      {"50", 1, 50, NumberCheck::kValid, 50},
      {"0", 1, 50, NumberCheck::kOutOfRange, 0},
      {"51", 1, 50, NumberCheck::kOutOfRange, 0},
      {" 2000ms", 500, 10000, NumberCheck::kValid, 2000},
      {"\t+700", 500, 10000, NumberCheck::kValid, 700},
      {"ms", 500, 10000, NumberCheck::kNotANumber, 0},
      {"", 500, 10000, NumberCheck::kNotANumber, 0},
      {"-", 1, 50, NumberCheck::kNotANumber, 0},
      {"-5", 1, 50, NumberCheck::kOutOfRange, 0},
      // Beyond the int range: refused, never wrapped into range.
      {"4294967796", 500, 10000, NumberCheck::kOutOfRange, 0},
      {"99999999999999999999999999999999999999", 500, 10000, NumberCheck::kOutOfRange, 0},
      {"-4294966296", 500, 10000, NumberCheck::kOutOfRange, 0},
  };
  for (const Case& c : cases) {
    const NumberCheck check = CheckNumber(c.text, c.min, c.max);
    EXPECT_EQ(check.result, c.result) << '"' << c.text << '"';
    if (c.result == NumberCheck::kValid) {
      EXPECT_EQ(check.value, c.value) << c.text;
    }
  }
  EXPECT_EQ(CheckNumber("499", 500, 10000).message, "Please input a number from500to10000.");
  EXPECT_EQ(CheckNumber("0", 1, 50).message, "Please input a number from1to50.");
  EXPECT_EQ(CheckNumber("x", 1, 50).message, "Please input a number.");
  EXPECT_EQ(CheckNumber("7", 1, 50).message, "");
}

TEST(TargetGeometry, PositionsFromTheDisplayMode) {
  const int expected1920[4][2] = {{240, 135}, {1680, 135}, {1680, 945}, {240, 945}};
  const int expected1366[4][2] = {{170, 96}, {1195, 96}, {1195, 672}, {170, 672}};
  for (int n = 1; n <= 4; ++n) {
    TargetPoint p;
    ASSERT_TRUE(TargetPosition(n, 1920, 1080, p));
    EXPECT_EQ(p.x, expected1920[n - 1][0]);
    EXPECT_EQ(p.y, expected1920[n - 1][1]);
    ASSERT_TRUE(TargetPosition(n, 1366, 768, p));
    EXPECT_EQ(p.x, expected1366[n - 1][0]);
    EXPECT_EQ(p.y, expected1366[n - 1][1]);
  }
  TargetPoint p;
  EXPECT_FALSE(TargetPosition(0, 1920, 1080, p));
  EXPECT_FALSE(TargetPosition(5, 1920, 1080, p));
  std::uint8_t x, y;
  ASSERT_TRUE(TargetSixteenths(3, x, y));
  EXPECT_EQ(x, 14);
  EXPECT_EQ(y, 14);
  ASSERT_TRUE(TargetSixteenths(4, x, y));
  EXPECT_EQ(x, 2);
  EXPECT_EQ(y, 14);
  EXPECT_FALSE(TargetSixteenths(16, x, y));
}

TEST(TargetGeometry, CrossFromTheWidthOnly) {
  EXPECT_EQ(CrossSize(1920), 38);
  EXPECT_EQ(CrossSize(1366), 27);
  EXPECT_EQ(CrossSize(768), 15);  // portrait: still 2% of the width
}

TEST(TargetGeometry, RingRadiiCycle) {
  std::vector<int> seen;
  int r = 0;  // a new window's radius: the first tick starts at the largest
  for (int i = 0; i < 8; ++i) seen.push_back(r = NextRingRadius(r, 1920));
  EXPECT_EQ(seen, (std::vector<int>{240, 203, 166, 129, 92, 55, 18, 240}));
  EXPECT_EQ(NextRingRadius(5000, 1920), 240);  // clamped to the largest
}

TEST(CalibrationReplyQueue, KeepsTheOrderAcrossThreadsAndDropsWhenClosed) {
  CalibrationReplyQueue queue;
  std::uint8_t report[64] = {};
  EXPECT_FALSE(queue.Post(report));  // no dialog yet
  int wakes = 0;
  queue.Open([&wakes] { ++wakes; });
  constexpr int kReplies = 2000;
  std::thread reader([&queue] {
    std::uint8_t r[64] = {};
    for (int i = 0; i < kReplies; ++i) {
      r[1] = static_cast<std::uint8_t>(i);
      r[2] = static_cast<std::uint8_t>(i >> 8);
      queue.Post(r);
    }
  });
  int next = 0;
  CalibrationReplyQueue::Report got;
  while (next < kReplies) {
    if (!queue.Take(got)) continue;
    ASSERT_EQ(got[1] | got[2] << 8, next);
    ++next;
  }
  reader.join();
  EXPECT_EQ(wakes, kReplies);
  queue.Post(report);
  queue.Close();
  EXPECT_FALSE(queue.Take(got));
  EXPECT_FALSE(queue.Post(report));
}

}  // namespace
