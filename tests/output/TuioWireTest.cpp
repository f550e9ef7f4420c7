// What the publisher puts on the wire, decoded by liblo from real UDP
// datagrams on loopback (native build).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include "output/TuioPublisher.h"
#include "tests/support/TuioExpect.h"

namespace {

using namespace TUIO;
using namespace testsupport;

class TuioWire : public ::testing::Test {
 protected:
  // Frame times two seconds ahead of construction, so the first frame falls
  // in a new second for the idle bundles.
  SessionTime At(int ms) const { return SessionTime{base_ + ms / 1000, (ms % 1000) * 1000}; }
  void Frame(int ms) { pub_->openFrame(At(ms)); }
  void Publish() {
    pub_->settleUntouchedCursors();
    pub_->publishFrame();
  }
  void ExpectSent(const std::vector<ExpectedBundle>& want) {
    const std::string why = Mismatch(rx_.bundles(), want);
    EXPECT_TRUE(why.empty()) << why;
  }
  void Start(int capacity = TuioPublisher::kDefaultCapacity) {
    pub_ = std::make_unique<TuioPublisher>("127.0.0.1", rx_.port(), capacity);
    rx_.drain(100);  // the construction bundles, checked on their own
  }

  UdpCapture rx_;
  std::int32_t base_ = SessionTime::Current().seconds + 2;
  std::unique_ptr<TuioPublisher> pub_;
};

TEST_F(TuioWire, ConstructionAndDestructionSendEmptyBundles) {
  pub_ = std::make_unique<TuioPublisher>("localhost", rx_.port());
  Frame(0);
  pub_->addCursor(0.5f, 0.5f);
  pub_->publishFrame();
  rx_.drain(100);
  pub_.reset();  // fseq -1 again, whatever the frame number was
  ExpectSent({Cur({}, {}, -1), Obj(-1)});
}

TEST_F(TuioWire, ConstructionBundlesComeFirst) {
  pub_ = std::make_unique<TuioPublisher>("127.0.0.1", rx_.port());
  ExpectSent({Cur({}, {}, -1), Obj(-1)});
}

TEST_F(TuioWire, IdleFramesSendOnceASecond) {
  Start();
  Frame(0);  // nothing changed, but a new second: alive + fseq, and objects
  Publish();
  Frame(300);  // same second: nothing at all
  Publish();
  Frame(999);
  Publish();
  Frame(1000);
  Publish();
  ExpectSent({Cur({}, {}, 0), Obj(0), Cur({}, {}, 3), Obj(3)});
}

TEST_F(TuioWire, ObjectBundleGoesOutEverySecondWhileCursorsChange) {
  Start();
  Frame(0);
  TuioCursor* c = pub_->addCursor(0.1f, 0.2f);
  Publish();
  Frame(500);
  pub_->moveCursor(c, 0.1f, 0.7f);  // 0.5 down in half a second
  Publish();
  Frame(1500);
  pub_->moveCursor(c, 0.1f, 0.7f);  // stays: 1 per second lost in one second
  Publish();
  ExpectSent({Cur({0}, {{0, 0.1f, 0.2f, 0, 0, 0}}, 0), Obj(0),
              Cur({0}, {{0, 0.1f, 0.7f, 0, 1.0f, 2.0f}}, 1),
              Cur({0}, {{0, 0.1f, 0.7f, 0, 0, -1.0f}}, 2), Obj(2)});
}

TEST_F(TuioWire, AddAndRemoveInOneFrameStillSendsACursorBundle) {
  Start();
  Frame(0);
  Publish();
  rx_.drain(50);
  Frame(100);
  pub_->removeCursor(pub_->addCursor(0.3f, 0.3f));
  Publish();
  ExpectSent({Cur({}, {}, 1)});
}

TEST_F(TuioWire, RemovalAloneSendsAliveWithoutTheIdAndNoSet) {
  Start();
  Frame(0);
  TuioCursor* a = pub_->addCursor(0.1f, 0.1f);
  pub_->addCursor(0.9f, 0.9f);
  Publish();
  rx_.drain(50);
  Frame(100);
  pub_->removeCursor(a);
  Publish();
  ExpectSent({Cur({1}, {}, 1)});
}

TEST_F(TuioWire, UntouchedCursorsAreAliveButHaveNoSet) {
  Start();
  Frame(0);
  TuioCursor* a = pub_->addCursor(0.1f, 0.1f);
  pub_->addCursor(0.9f, 0.9f);
  Publish();
  rx_.drain(50);
  Frame(250);
  pub_->moveCursor(a, 0.1f, 0.35f);
  Publish();
  ExpectSent({Cur({0, 1}, {{0, 0.1f, 0.35f, 0, 1.0f, 4.0f}}, 1)});
}

TEST_F(TuioWire, AFullPacketSplitsTheFrameWithTheWholeAliveList) {
  Start(576);
  Frame(0);
  const int n = 40;
  for (int i = 0; i < n; ++i) pub_->addCursor(i / 64.0f, 0.5f);
  Publish();
  const auto got = rx_.bundles();
  ASSERT_GE(got.size(), 3u);
  std::vector<int> alive;
  for (int i = 0; i < n; ++i) alive.push_back(i);
  int nextSet = 0;
  for (std::size_t b = 0; b + 1 < got.size(); ++b) {
    EXPECT_LE(got[b].datagramSize, 576u);
    std::vector<ExpectedSet> sets;
    for (std::size_t m = 1; m + 1 < got[b].messages.size(); ++m, ++nextSet)
      sets.push_back({nextSet, nextSet / 64.0f, 0.5f, 0, 0, 0});
    EXPECT_FALSE(sets.empty());
    const std::string why = Mismatch(got[b], Cur(alive, sets, 0));
    EXPECT_TRUE(why.empty()) << "bundle " << b << ": " << why;
  }
  EXPECT_EQ(nextSet, n);
  EXPECT_TRUE(Mismatch(got.back(), Obj(0)).empty());
}

TEST_F(TuioWire, AnAliveListTooLongForThePacketDropsTheBundleNotTheProcess) {
  Start(576);
  Frame(0);
  for (int i = 0; i < 200; ++i) pub_->addCursor(0.5f, 0.5f);
  Publish();
  ExpectSent({Obj(0)});
  EXPECT_EQ(pub_->cursorCount(), 200u);
}

TEST_F(TuioWire, ANewPublisherStartsFramesAndIdsAgain) {
  Start();
  Frame(0);
  pub_->addCursor(0.5f, 0.5f);
  Publish();
  Start();
  Frame(100);
  pub_->addCursor(0.6f, 0.6f);
  Publish();
  ExpectSent({Cur({0}, {{0, 0.6f, 0.6f, 0, 0, 0}}, 0), Obj(0)});
}

TEST(TuioSender, FailureToCreateTheSocketIsReportedOnceAndNothingIsSent) {
  // Leave no free file descriptor, so the socket cannot be created.
  rlimit saved{};
  getrlimit(RLIMIT_NOFILE, &saved);
  UdpCapture rx;
  const int next = dup(0);
  ASSERT_GE(next, 0);
  close(next);
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(next);
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  auto pub = std::make_unique<TuioPublisher>("127.0.0.1", rx.port());
  setrlimit(RLIMIT_NOFILE, &saved);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "could not create socket\n");
  EXPECT_FALSE(pub->hasSender());

  // The bookkeeping goes on without a sender.
  pub->openFrame(SessionTime{1, 0});
  TuioCursor* c = pub->addCursor(0.2f, 0.2f);
  pub->openFrame(SessionTime{1, 100000});
  pub->moveCursor(c, 0.3f, 0.2f);
  pub->settleUntouchedCursors();
  pub->publishFrame();
  EXPECT_FLOAT_EQ(c->xSpeed(), 1.0f);
  pub.reset();
  EXPECT_TRUE(rx.drain(100).empty());
}

}  // namespace
