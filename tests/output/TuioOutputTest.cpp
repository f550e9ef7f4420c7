// The TUIO glue seen through its publisher's cursors: the per-slot rule,
// the scales, the frames per record, the output cycle, and start/stop
// against records arriving on another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "output/TouchOutputs.h"
#include "output/TuioOutput.h"

namespace {

using TUIO::TuioPublisher;

TEST(SlotRule, WhatEachStateAsksOfTheCursor) {
  struct Case {
    std::uint32_t state;
    bool hasCursor;
    SlotAction want;
  } cases[] = {
      {TOUCH_DOWN, false, SlotAction::kAdd}, {TOUCH_DOWN, true, SlotAction::kNone},
      {TOUCH_MOVE, true, SlotAction::kMove}, {TOUCH_MOVE, false, SlotAction::kNone},
      {TOUCH_UP, true, SlotAction::kRemove}, {TOUCH_UP, false, SlotAction::kNone},
      {0, true, SlotAction::kNone},          {0, false, SlotAction::kNone},
      {0x83, true, SlotAction::kNone},       {0x01, false, SlotAction::kNone},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SlotRule(c.state, c.hasCursor), c.want) << std::hex << c.state << " " << c.hasCursor;
}

TEST(SlotRule, Scales) {
  EXPECT_EQ(ScaleStandard(4096), 1.0f);
  EXPECT_EQ(ScaleStandard(2048), 0.5f);
  EXPECT_EQ(ScaleSeries(32760), 1.0f);
  EXPECT_GT(ScaleSeries(32767), 1.0f);
  EXPECT_LT(ScaleSeries(32767), 1.001f);
}

TouchFrame Frame(std::initializer_list<TouchSlot> slots) {
  TouchFrame f{};
  int k = 0;
  for (const TouchSlot& s : slots) f.slot[k++] = s;
  return f;
}

class Glue : public ::testing::Test {
 protected:
  // The datagrams go to the discard port; these tests read the publisher.
  void Start(const char* protocol = "UDP") { out_.startTuioOutput(protocol, "127.0.0.1", 9); }
  const TuioPublisher& Pub() { return *out_.publisher(); }
  // A new tick, so that a move is a new sample.
  static void NextTick() { std::this_thread::sleep_for(std::chrono::milliseconds(2)); }

  TuioOutput out_;
};

TEST_F(Glue, SlotsAddMoveAndRemoveCursors) {
  Start();
  out_.updateFromFrame(Frame({{4096, 2048, TOUCH_DOWN}, {0, 0, TOUCH_UP}}));
  ASSERT_EQ(Pub().cursorCount(), 1u);
  EXPECT_EQ(Pub().cursorAt(0)->x(), 1.0f);
  EXPECT_EQ(Pub().cursorAt(0)->y(), 0.5f);
  EXPECT_EQ(Pub().frameNumber(), 0);

  NextTick();
  // A repeated down keeps the cursor where it was; slot 4 adds a second one.
  out_.updateFromFrame(Frame({{1024, 1024, TOUCH_DOWN}, {}, {}, {8192, 0, TOUCH_DOWN}}));
  ASSERT_EQ(Pub().cursorCount(), 2u);
  EXPECT_EQ(Pub().cursorAt(0)->x(), 1.0f);
  EXPECT_EQ(Pub().cursorAt(1)->x(), 2.0f);  // no clamping
  EXPECT_EQ(Pub().cursorAt(1)->sessionId(), 1);

  NextTick();
  out_.updateFromFrame(Frame({{1024, 1024, TOUCH_MOVE}, {5, 5, TOUCH_MOVE}, {}, {0, 0, TOUCH_UP}}));
  ASSERT_EQ(Pub().cursorCount(), 1u);  // slot 2's move had no cursor
  EXPECT_EQ(Pub().cursorAt(0)->x(), 0.25f);
  EXPECT_EQ(Pub().frameNumber(), 2);  // one frame per record
}

TEST_F(Glue, Series01xxFramesUseTwoSlotsIn32760ths) {
  out_.setSeries01xx(true);
  Start();
  out_.updateFromFrame(Frame({{32760, 16380, TOUCH_DOWN}, {}, {1, 1, TOUCH_DOWN}}));
  ASSERT_EQ(Pub().cursorCount(), 1u);
  EXPECT_EQ(Pub().cursorAt(0)->x(), 1.0f);
  EXPECT_EQ(Pub().cursorAt(0)->y(), 0.5f);
}

TEST_F(Glue, TablesOpenAFrameForEachOfTheir32Entries) {
  Start();
  ContactTable t{};
  out_.updateFromTable(t, 0);
  EXPECT_EQ(Pub().frameNumber(), 31);
  EXPECT_EQ(Pub().cursorCount(), 0u);

  const std::uint16_t steps[] = {TOUCH_DOWN, TOUCH_MOVE, TOUCH_MOVE, TOUCH_UP};
  std::uint32_t x = 16380;
  for (std::uint16_t s : steps) {
    NextTick();
    t.entry[5] = {5, s, x, 32760};
    out_.updateFromTable(t, 6);
    if (s != TOUCH_UP) {
      ASSERT_EQ(Pub().cursorCount(), 1u);
      EXPECT_EQ(Pub().cursorAt(0)->x(), ScaleSeries(x));
      EXPECT_EQ(Pub().cursorAt(0)->y(), 1.0f);
    }
    x += 3276;
  }
  EXPECT_EQ(Pub().cursorCount(), 0u);
  EXPECT_EQ(Pub().frameNumber(), 32 * 5 - 1);

  // Whatever the clock does during the walk, every entry's change is in
  // the published frame: a cursor gets a set message only when its time is
  // the frame's.
  out_.setClock([] {
    static std::int32_t ms = 0;
    return TUIO::SessionTime::FromMilliseconds(ms += 1);
  });
  t.entry[30] = {30, TOUCH_DOWN, 100, 100};
  out_.updateFromTable(t, 31);
  ASSERT_EQ(Pub().cursorCount(), 1u);
  EXPECT_EQ(Pub().cursorAt(0)->time(), Pub().frameTime());
  t.entry[30].state = TOUCH_MOVE;
  t.entry[30].x = 200;
  out_.updateFromTable(t, 31);
  EXPECT_EQ(Pub().cursorAt(0)->time(), Pub().frameTime());
  EXPECT_EQ(Pub().cursorAt(0)->x(), ScaleSeries(200));
  t.entry[30] = {30, TOUCH_UP, 0, 0};
  out_.updateFromTable(t, 31);

  // An entry whose id lies outside the table is left alone.
  t.entry[7] = {900, TOUCH_DOWN, 1, 1};
  out_.updateFromTable(t, 8);
  EXPECT_EQ(Pub().cursorCount(), 0u);
}

TEST_F(Glue, EveryStartIsAFreshPublisher) {
  EXPECT_EQ(out_.publisher(), nullptr);
  out_.updateFromFrame(Frame({{1, 1, TOUCH_DOWN}}));  // stopped: ignored
  Start();
  out_.updateFromFrame(Frame({{1, 1, TOUCH_DOWN}}));
  out_.stopTuioOutput();
  EXPECT_EQ(out_.publisher(), nullptr);
  Start();
  EXPECT_EQ(Pub().cursorCount(), 0u);
  // The touch held across the stop is seen again only from its next down.
  out_.updateFromFrame(Frame({{1, 1, TOUCH_MOVE}}));
  EXPECT_EQ(Pub().cursorCount(), 0u);
  out_.updateFromFrame(Frame({{1, 1, TOUCH_DOWN}}));
  EXPECT_EQ(Pub().cursorAt(0)->sessionId(), 0);
  EXPECT_EQ(Pub().frameNumber(), 1);
}

TEST_F(Glue, OnlyUdpMakesAPublisher) {
  Start("udp");
  EXPECT_EQ(out_.publisher(), nullptr);
  out_.updateFromFrame(Frame({{1, 1, TOUCH_DOWN}}));
  ContactTable t{};
  out_.updateFromTable(t, 0);
}

// Start and stop on one thread while another delivers records, as the
// window thread and the reader thread do: nothing overlaps (ThreadSanitizer
// watches the native sanitizer builds), every record is handled whole.
TEST(TouchOutputsCycle, StartAndStopNeverOverlapARecord) {
  OutputEndpoints e;
  e.tuioPort = 9;
  TouchOutputs outputs(e);
  outputs.SetDevice({0x4300, false});
  std::atomic<bool> done{false};
  std::thread reader([&] {
    ContactTable t{};
    TouchFrame f{};
    for (std::uint32_t i = 0; !done; ++i) {
      t.entry[i % 32] = {std::uint16_t(i % 32), std::uint16_t(i % 3 ? TOUCH_MOVE : TOUCH_DOWN), i,
                         i};
      outputs.updateFromTable(t, 32);
      outputs.sendTableDocument(t, 32);
      f.slot[0] = {i, i, i % 2 ? TOUCH_MOVE : TOUCH_DOWN};
      outputs.updateFromFrame(f);
      outputs.sendFrameDocument(f);
    }
  });
  for (int i = 0; i < 200; ++i) {
    outputs.StartTouchOutput();
    EXPECT_TRUE(outputs.outputStarted());
    outputs.StopTouchOutput();
    EXPECT_FALSE(outputs.outputStarted());
  }
  done = true;
  reader.join();
  EXPECT_EQ(outputs.documentCounter(), 0);
}

}  // namespace
