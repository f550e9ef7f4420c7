// Session time arithmetic, cursor kinematics and the publisher's frame
// bookkeeping. Runs in both builds (natively and under Wine).
#include <gtest/gtest.h>

#include "output/TuioPublisher.h"
#include "tests/support/AllocationCounter.h"

namespace {

using namespace TUIO;

SessionTime At(int ms) {
  return SessionTime::FromMilliseconds(ms);
}

TEST(SessionTime, FromTickTruncatesTowardZero) {
  EXPECT_EQ(At(1234), (SessionTime{1, 234000}));
  EXPECT_EQ(At(999), (SessionTime{0, 999000}));
  // Uptime past 2^31 ms reads negative, and both fields go negative with it.
  EXPECT_EQ(At(-1500), (SessionTime{-1, -500000}));
  EXPECT_EQ(At(INT32_MIN).seconds, INT32_MIN / 1000);
}

TEST(SessionTime, DifferenceBorrowsAndMeasuresMilliseconds) {
  const SessionTime d = SessionTime{5, 100000} - SessionTime{3, 900000};
  EXPECT_EQ(d, (SessionTime{1, 200000}));
  EXPECT_EQ(d.Milliseconds(), 1200);
  EXPECT_EQ((At(7) - At(7)).Milliseconds(), 0);
  EXPECT_EQ((SessionTime{0, 1999} - SessionTime{0, 0}).Milliseconds(), 1);  // truncated
  EXPECT_EQ((At(100) - At(350)).Milliseconds(), -250);
}

TEST(SessionTime, CurrentFollowsTheTickCount) {
  const SessionTime a = SessionTime::Current();
  const SessionTime b = SessionTime::Current();
  EXPECT_GE((b - a).Milliseconds(), 0);
  EXPECT_EQ(a.microseconds % 1000, 0);  // tick resolution
}

TEST(TuioContainer, MovingFromRestAcceleratesThenSettlesToAStop) {
  TuioCursor c(7, At(1000), 0.2f, 0.4f);
  EXPECT_EQ(c.motionState(), MOTION_ADDED);
  EXPECT_FALSE(c.isInMotion());

  c.moveTo(At(1200), 0.3f, 0.4f);  // 0.1 in 200 ms
  EXPECT_FLOAT_EQ(c.xSpeed(), 0.5f);
  EXPECT_FLOAT_EQ(c.ySpeed(), 0.0f);
  EXPECT_FLOAT_EQ(c.motionSpeed(), 0.5f);
  EXPECT_FLOAT_EQ(c.motionAccel(), 2.5f);
  EXPECT_EQ(c.motionState(), MOTION_ACCELERATING);
  EXPECT_TRUE(c.isInMotion());

  c.hold(At(1300));  // not reported: zero speed, braking
  EXPECT_FLOAT_EQ(c.xSpeed(), 0.0f);
  EXPECT_FLOAT_EQ(c.motionAccel(), -5.0f);
  EXPECT_EQ(c.motionState(), MOTION_DECELERATING);
  EXPECT_TRUE(c.isInMotion());

  c.hold(At(1400));
  EXPECT_FLOAT_EQ(c.motionAccel(), 0.0f);
  EXPECT_EQ(c.motionState(), MOTION_STOPPED);
  EXPECT_FALSE(c.isInMotion());
  EXPECT_FLOAT_EQ(c.x(), 0.3f);
  EXPECT_EQ(c.startTime(), At(1000));
}

TEST(TuioContainer, DiagonalSpeedAndDeceleration) {
  TuioCursor c(0, At(0), 0.0f, 0.0f);
  c.moveTo(At(1000), 0.3f, 0.4f);
  EXPECT_FLOAT_EQ(c.motionSpeed(), 0.5f);
  c.moveTo(At(2000), 0.4f, 0.4f);  // slower
  EXPECT_FLOAT_EQ(c.xSpeed(), 0.1f);
  EXPECT_NEAR(c.motionAccel(), -0.4f, 1e-6);
  EXPECT_EQ(c.motionState(), MOTION_DECELERATING);
  EXPECT_EQ(c.lastSample().time, At(2000));
}

TEST(TuioContainer, SamePositionAgainGivesZeroSpeedAndNoAcceleration) {
  TuioCursor c(0, At(0), 0.5f, 0.5f);
  c.moveTo(At(10), 0.5f, 0.5f);
  EXPECT_EQ(c.xSpeed(), 0.0f);
  EXPECT_EQ(c.ySpeed(), 0.0f);
  EXPECT_LE(c.motionAccel(), 0.0f);
  EXPECT_EQ(c.motionState(), MOTION_STOPPED);
}

TEST(TuioContainer, RetireChangesOnlyTimeAndState) {
  TuioCursor c(3, At(0), 0.1f, 0.2f);
  c.moveTo(At(100), 0.2f, 0.2f);
  const float speed = c.xSpeed();
  c.retire(At(500));
  EXPECT_EQ(c.motionState(), MOTION_REMOVED);
  EXPECT_EQ(c.time(), At(500));
  EXPECT_FLOAT_EQ(c.xSpeed(), speed);
  EXPECT_FLOAT_EQ(c.x(), 0.2f);
}

TEST(TuioContainer, UpdateFormsTakeGivenValues) {
  TuioCursor a(1, At(0), 0.0f, 0.0f);
  a.update(At(50), 0.6f, 0.7f, 0.3f, 0.4f, -1.0f);
  EXPECT_FLOAT_EQ(a.motionSpeed(), 0.5f);
  EXPECT_EQ(a.motionState(), MOTION_DECELERATING);
  TuioCursor b(2, At(0), 0.0f, 0.0f);
  b.update(a);
  EXPECT_EQ(b.sessionId(), 2);
  EXPECT_FLOAT_EQ(b.y(), 0.7f);
  EXPECT_EQ(b.time(), At(50));
  // The next sample measures from the copied one.
  b.moveTo(At(150), 0.7f, 0.7f);
  EXPECT_NEAR(b.xSpeed(), 1.0f, 1e-5);
}

// The publisher's bookkeeping, with the receiver at a closed loopback port.
class PublisherFrames : public ::testing::Test {
 protected:
  TuioPublisher pub{"127.0.0.1", 9};
};

TEST_F(PublisherFrames, FrameNumbersAndSessionIdsCount) {
  EXPECT_EQ(pub.frameNumber(), -1);
  pub.openFrame(At(10));
  EXPECT_EQ(pub.frameNumber(), 0);
  TuioCursor* a = pub.addCursor(0.1f, 0.1f);
  TuioCursor* b = pub.addCursor(0.2f, 0.2f);
  EXPECT_EQ(a->sessionId(), 0);
  EXPECT_EQ(b->sessionId(), 1);
  EXPECT_EQ(a->startTime(), At(10));
  pub.removeCursor(a);
  pub.publishFrame();
  pub.openFrame(At(20));
  EXPECT_EQ(pub.addCursor(0.3f, 0.3f)->sessionId(), 2);  // ids never reused
  ASSERT_EQ(pub.cursorCount(), 2u);
  EXPECT_EQ(pub.cursorAt(0)->sessionId(), 1);
  EXPECT_EQ(pub.cursorAt(1)->sessionId(), 2);
}

TEST_F(PublisherFrames, OneSamplePerCursorPerFrame) {
  pub.openFrame(At(10));
  TuioCursor* c = pub.addCursor(0.1f, 0.1f);
  pub.moveCursor(c, 0.5f, 0.5f);  // same frame as the add
  EXPECT_FLOAT_EQ(c->x(), 0.1f);
  pub.openFrame(At(10));  // the tick did not advance
  pub.moveCursor(c, 0.5f, 0.5f);
  EXPECT_FLOAT_EQ(c->x(), 0.1f);
  EXPECT_EQ(c->motionState(), MOTION_ADDED);
  pub.openFrame(At(20));
  pub.moveCursor(c, 0.5f, 0.5f);
  pub.moveCursor(c, 0.9f, 0.9f);
  EXPECT_FLOAT_EQ(c->x(), 0.5f);
  pub.moveCursor(nullptr, 0.1f, 0.1f);
  pub.removeCursor(nullptr);
}

TEST_F(PublisherFrames, SettleHoldsOnlyUntouchedCursorsInMotion) {
  pub.openFrame(At(0));
  TuioCursor* moving = pub.addCursor(0.1f, 0.1f);
  TuioCursor* resting = pub.addCursor(0.5f, 0.5f);
  pub.openFrame(At(100));
  pub.moveCursor(moving, 0.2f, 0.1f);
  pub.settleUntouchedCursors();
  EXPECT_EQ(resting->time(), At(0));  // added, not in motion: left alone
  pub.openFrame(At(200));
  pub.settleUntouchedCursors();
  EXPECT_EQ(moving->time(), At(200));
  EXPECT_EQ(moving->motionState(), MOTION_DECELERATING);
  pub.openFrame(At(300));
  pub.settleUntouchedCursors();
  EXPECT_EQ(moving->motionState(), MOTION_STOPPED);
  pub.openFrame(At(400));
  pub.settleUntouchedCursors();
  EXPECT_EQ(moving->time(), At(300));  // stopped: left alone from now on
}

TEST(PublisherCapacity, IsClampedTo576Through65536) {
  EXPECT_EQ(TuioPublisher("127.0.0.1", 9, 100).capacity(), 576);
  EXPECT_EQ(TuioPublisher("127.0.0.1", 9, 1 << 20).capacity(), 65536);
  EXPECT_EQ(TuioPublisher("127.0.0.1", 9).capacity(), 1500);
}

// Only the last sample of a cursor's path is kept: holding a touch for a
// long time costs no memory per report.
std::uint64_t AllocationsWhileHolding(int moves) {
  TuioPublisher pub("127.0.0.1", 9);
  pub.openFrame(At(0));
  TuioCursor* c = pub.addCursor(0.5f, 0.5f);
  pub.publishFrame();
  const std::uint64_t before = testsupport::Allocations();
  for (int i = 1; i <= moves; ++i) {
    pub.openFrame(At(i));
    pub.moveCursor(c, 0.5f + (i % 7) * 0.01f, 0.5f);
    pub.settleUntouchedCursors();
    pub.publishFrame();
  }
  return testsupport::Allocations() - before;
}

TEST(PublisherMemory, TheCounterSeesAnAllocation) {
  // Without this, a counter that is not linked in would pass every check
  // below with zeros.
  const std::uint64_t before = testsupport::Allocations();
  static int* volatile kept;  // volatile: the allocation cannot be elided
  kept = new int(7);
  EXPECT_GT(testsupport::Allocations(), before);
  delete kept;
}

TEST(PublisherMemory, HoldingForLongCostsNoMoreThanATap) {
  const std::uint64_t brief = AllocationsWhileHolding(10);
  const std::uint64_t held = AllocationsWhileHolding(100000);
  EXPECT_EQ(held, brief);
  EXPECT_EQ(held, 0u);
}

TEST(PublisherMemory, TouchesComingAndGoingReuseCursors) {
  TuioPublisher pub("127.0.0.1", 9);
  auto cycle = [&pub](int frame) {
    pub.openFrame(At(frame));
    TuioCursor* c[10];
    for (auto& p : c) p = pub.addCursor(0.5f, 0.5f);
    pub.publishFrame();
    pub.openFrame(At(frame + 1));
    for (auto* p : c) pub.removeCursor(p);
    pub.publishFrame();
  };
  cycle(0);
  const std::uint64_t before = testsupport::Allocations();
  for (int i = 1; i < 1000; ++i) cycle(i * 10);
  EXPECT_EQ(testsupport::Allocations(), before);
}

}  // namespace
