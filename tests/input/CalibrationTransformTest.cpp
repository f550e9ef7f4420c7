#include <gtest/gtest.h>

#include <thread>

#include "input/CalibrationTransform.h"
#include "input/ReaderCalibration.h"

namespace {

// The frame's block: R0, R1, R2 then P0, P1, P2.
CalibrationData Block(int r0x, int r0y, int r1x, int r1y, int r2x, int r2y, int p0x, int p0y,
                      int p1x, int p1y, int p2x, int p2y) {
  const int w[12] = {r0x, r0y, r1x, r1y, r2x, r2y, p0x, p0y, p1x, p1y, p2x, p2y};
  std::uint8_t bytes[24];
  for (int i = 0; i < 12; ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(w[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<std::uint8_t>((w[i] >> 8) & 0xFF);
  }
  CalibrationData d;
  StoreCalibrationBlock(bytes, d);
  d.ComputeCalibration();
  return d;
}

CalibrationData Worked() {
  return Block(512, 512, 3583, 512, 3583, 3583, 1000, 500, 3000, 500, 3000, 3500);
}

std::pair<int, int> Map(CalibrationData& d, int x, int y) {
  d.inX = static_cast<std::int16_t>(x);
  d.inY = static_cast<std::int16_t>(y);
  EXPECT_TRUE(d.MapPoint());
  return {d.outX, d.outY};
}

TEST(CalibrationTransform, DerivesLengthsAndEdgesOfTheWorkedBlock) {
  const CalibrationData d = Worked();
  EXPECT_EQ(d.block.referenceX[1], 3583);
  EXPECT_EQ(d.block.measuredY[2], 3500);
  EXPECT_EQ(d.measuredLen01, 2000);
  EXPECT_EQ(d.measuredLen21, 3000);
  EXPECT_EQ(d.referenceLen01, 3071);
  EXPECT_EQ(d.referenceLen21, 3071);
  EXPECT_EQ(d.edge01X, -2000);
  EXPECT_EQ(d.edge01Y, 0);
  EXPECT_EQ(d.edge21X, 0);
  EXPECT_EQ(d.edge21Y, 3000);
}

TEST(CalibrationTransform, MapsTheWorkedPointsWithTruncationAndClamping) {
  CalibrationData d = Worked();
  struct Case {
    int x, y, outX, outY;
  } cases[] = {
      {2000, 2000, 2048, 2047},  // 1535.5 truncates on both axes
      {3500, 500, 4095, 512},    // -767.75 truncates to -767: 4350 clamps to 4095
      {200, 4000, 1, 4094},      // X comes out at -716, then 0, then 1
      {3000, 500, 3583, 512},    // P1 lands on R1
      {1000, 500, 512, 512},     // P0 on R0
      {3000, 3500, 3583, 3583},  // P2 on R2
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Map(d, c.x, c.y), std::make_pair(c.outX, c.outY)) << c.x << "," << c.y;
  }
}

TEST(CalibrationTransform, RoundsLengthsLikeTheFrame) {
  EXPECT_EQ(CalibrationLength(3, 4), 5);
  EXPECT_EQ(CalibrationLength(1, 1), 1);  // 1.414 + 0.5 truncates to 1
  EXPECT_EQ(CalibrationLength(1, 2), 2);
  EXPECT_EQ(CalibrationLength(0, 0), 0);
  // Beyond 2^31 the sum of squares must not wrap negative (sqrt = 92680.49).
  EXPECT_EQ(CalibrationLength(-65535, -65535), static_cast<std::int16_t>(92680));
}

TEST(CalibrationTransform, ZeroMeasuredLengthLeavesThePointUnmapped) {
  CalibrationData fresh;  // mapping switched on before any block arrived
  fresh.inX = 1234;
  fresh.inY = 567;
  EXPECT_FALSE(fresh.MapPoint());
  EXPECT_EQ(fresh.outX, 1234);
  EXPECT_EQ(fresh.outY, 567);

  // Measured points that coincide.
  CalibrationData same = Block(512, 512, 3583, 512, 3583, 3583, 100, 100, 100, 100, 100, 100);
  same.inX = 10;
  same.inY = 20;
  EXPECT_FALSE(same.MapPoint());
}

TEST(CalibrationTransform, ExtremeWordsNeverFaultAndStayInRange) {
  // Signed 16-bit corners: arithmetic wraps as the frame's does, results clamp.
  const int v[] = {-32768, -1, 0, 1, 4095, 32767};
  for (int a : v) {
    for (int b : v) {
      CalibrationData d = Block(a, b, b, a, a, a, b, b, a, b, b, a);
      for (int x : v) {
        d.inX = static_cast<std::int16_t>(x);
        d.inY = static_cast<std::int16_t>(-x);
        if (d.MapPoint()) {
          EXPECT_GE(d.outX, 1);
          EXPECT_LE(d.outX, 4095);
          EXPECT_GE(d.outY, 1);
          EXPECT_LE(d.outY, 4095);
        }
      }
    }
  }
}

// A reader's copy is always one whole published calibration, the newest
// or a later one than it had, however the publisher races the reader.
TEST(ReaderCalibration, TheReaderTakesWholeCopiesInOrder) {
  ReaderCalibration copy;
  constexpr int kCount = 20000;
  std::thread control([&] {
    for (int i = 1; i <= kCount; ++i) {
      CalibrationData d;
      d.block.referenceX[0] = d.block.measuredY[2] = d.edge21Y = static_cast<std::int16_t>(i);
      copy.Publish(d);
    }
  });
  int last = 0;
  while (last < kCount) {
    const CalibrationData& d = copy.Current();
    ASSERT_EQ(d.block.referenceX[0], d.block.measuredY[2]);
    ASSERT_EQ(d.block.referenceX[0], d.edge21Y);
    ASSERT_GE(d.block.referenceX[0], last);
    last = d.block.referenceX[0];
  }
  control.join();
}

}  // namespace
