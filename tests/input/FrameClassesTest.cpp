// The classes of frame at every boundary, in one table: each row is a
// version number and what every rule says of it.
#include <gtest/gtest.h>

#include "common/FrameClasses.h"

namespace {

using frame::TouchLayout;

TEST(FrameClasses, EveryRuleAtEveryBoundary) {
  struct Row {
    std::uint16_t v;
    bool split, multi, touchOutput;
    std::uint8_t reportId;
    TouchLayout layout;
    bool fourPointIds;
  } rows[] = {
      {0x2050, false, false, false, 0x02, TouchLayout::kA, false},
      {0x2100, false, false, false, 0x02, TouchLayout::kA, false},
      {0x2101, false, false, true, 0xFC, TouchLayout::kB, false},
      {0x2FFF, false, false, true, 0xFC, TouchLayout::kB, false},
      {0x3001, false, false, false, 0xFC, TouchLayout::kA, false},
      {0x3002, true, false, true, 0xFC, TouchLayout::kB, false},
      {0x32FF, true, false, true, 0xFC, TouchLayout::kB, false},
      {0x3300, true, true, true, 0xFC, TouchLayout::kMT, false},
      {0x3FFF, true, true, true, 0xFC, TouchLayout::kMT, false},
      {0x4001, false, false, false, 0xFC, TouchLayout::kA, false},
      {0x4002, true, false, true, 0xFC, TouchLayout::kB, false},
      {0x4012, true, false, true, 0xFC, TouchLayout::kB, false},
      {0x4013, true, false, true, 0xFC, TouchLayout::kC, true},
      {0x42FF, true, false, true, 0xFC, TouchLayout::kC, true},
      {0x4300, true, true, true, 0xFC, TouchLayout::kMT, true},
      {0x6FFF, true, true, true, 0xFC, TouchLayout::kMT, true},
      {0x7000, false, false, false, 0xFC, TouchLayout::kC, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(::testing::Message() << std::hex << "version 0x" << r.v);
    EXPECT_EQ(frame::IsSplitChannel(r.v), r.split);
    EXPECT_EQ(frame::IsSingleChannel(r.v), !r.split);
    EXPECT_EQ(frame::IsMultiTouch(r.v), r.multi);
    EXPECT_EQ(frame::IsTouchOutputRange(r.v), r.touchOutput);
    EXPECT_EQ(frame::InputReportIdFor(r.v), r.reportId);
    EXPECT_EQ(frame::LayoutFor(r.v, false), r.layout);
    EXPECT_EQ(frame::LayoutFor(r.v, true), TouchLayout::kF);  // Series01xx, whatever the version
    EXPECT_EQ(frame::HasFourPointIdentifiers(r.v), r.fourPointIds);
  }
}

TEST(FrameClasses, Series01xxLine) {
  EXPECT_TRUE(frame::IsSeries01xxProduct(0x0113));
  EXPECT_TRUE(frame::IsSeries01xxProduct(0x01FF));
  EXPECT_FALSE(frame::IsSeries01xxProduct(0x0021));
  EXPECT_FALSE(frame::IsSeries01xxProduct(0x0200));
  EXPECT_FALSE(frame::HasFullSeriesMode(0x0200));
  EXPECT_TRUE(frame::HasFullSeriesMode(0x0201));
}

}  // namespace
