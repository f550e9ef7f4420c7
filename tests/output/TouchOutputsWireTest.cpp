// The outputs as a receiver sees them (native): TUIO bundles decoded by
// liblo, XML documents read from TCP and parsed by libxml2.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "output/TouchOutputs.h"
#include "tests/support/TuioExpect.h"
#include "tests/support/XmlClient.h"
#include "tests/support/XmlDocumentReader.h"

namespace {

using namespace testsupport;

// A document as libxml2 reads it: the packet's attributes, then for each
// message its name and its arguments as "type:value".
struct LibxmlView {
  std::string packet;
  std::vector<std::vector<std::string>> messages;
};

LibxmlView ParseWithLibxml(const std::string& text) {
  LibxmlView v;
  XmlPacket packet;
  std::string why;
  EXPECT_TRUE(ReadXmlPacket(text, packet, why)) << why;
  v.packet = packet.address + " " + packet.port + " " + packet.time;
  for (const XmlMessage& m : packet.messages) {
    EXPECT_EQ(m.name, "/tuio/2Dcur");
    std::vector<std::string> args;
    for (const XmlArgument& a : m.args) args.push_back(a.type + ":" + a.value);
    v.messages.push_back(args);
  }
  return v;
}

std::string F(float v) {
  char b[64];
  std::snprintf(b, sizeof b, "f:%f", double(v));
  return b;
}
std::vector<std::string> Set(int id, float x, float y, float dx, float dy) {
  return {"s:set", "i:" + std::to_string(id), F(x), F(y), F(dx), F(dy), "f:0.0", "f:0.0"};
}

// The cursor bundles among what arrived (the object profile goes out once a
// second on its own and is not what these tests look at).
std::vector<OscBundle> CursorBundles(UdpCapture& rx) {
  std::vector<OscBundle> out;
  for (auto& b : rx.bundles(300))
    if (!b.messages.empty() && b.messages[0].address == "/tuio/2Dcur") out.push_back(b);
  return out;
}

TouchFrame One(std::uint32_t x, std::uint32_t y, std::uint32_t state) {
  TouchFrame f{};
  f.slot[0] = {x, y, state};
  return f;
}

class OutputsWire : public ::testing::Test {
 protected:
  void SetUp() override {
    OutputEndpoints e;
    e.tuioPort = rx_.port();
    e.xml.port = 0;
    outputs_ = std::make_unique<TouchOutputs>(e);
    outputs_->StartXmlListener();
    ASSERT_TRUE(WaitFor([&] { return outputs_->XmlPort() != 0; }));
  }
  std::unique_ptr<XmlClient> Client() {
    auto c = std::make_unique<XmlClient>(outputs_->XmlPort());
    EXPECT_TRUE(WaitFor([&] { return outputs_->XmlLink().Connected(); }));
    return c;
  }
  // As the pipeline's decoders dispatch a record: both sides in one call.
  void Deliver(const TouchFrame& f) { outputs_->dispatchFrame(f); }
  void Deliver(ContactTable& t, std::uint16_t count) { outputs_->dispatchTable(t, count); }
  static void NextTick() { std::this_thread::sleep_for(std::chrono::milliseconds(2)); }

  UdpCapture rx_;
  std::unique_ptr<TouchOutputs> outputs_;
};

TEST_F(OutputsWire, ATouchFromStartToStop) {
  outputs_->SetDevice({0x3002, false});
  auto xml = Client();
  outputs_->StartTouchOutput();
  std::string why = Mismatch(rx_.bundles(), {Cur({}, {}, -1), Obj(-1)});
  EXPECT_TRUE(why.empty()) << why;

  Deliver(One(2048, 1024, TOUCH_DOWN));
  auto b = CursorBundles(rx_);
  ASSERT_EQ(b.size(), 1u);
  why = Mismatch(b[0], Cur({0}, {{0, 0.5f, 0.25f, 0, 0, 0}}, 0));
  EXPECT_TRUE(why.empty()) << why;
  EXPECT_TRUE(xml->documents(1, 100).empty());  // the first record is held back

  NextTick();
  Deliver(One(2458, 1024, TOUCH_MOVE));
  b = CursorBundles(rx_);
  ASSERT_EQ(b.size(), 1u);
  ASSERT_EQ(b[0].messages.size(), 3u);
  EXPECT_EQ(std::get<std::int32_t>(b[0].messages[1].args[1]), 0);
  EXPECT_FLOAT_EQ(std::get<float>(b[0].messages[1].args[2]), 2458 / 4096.0f);
  EXPECT_EQ(std::get<std::int32_t>(b[0].messages[2].args[1]), 1);

  NextTick();
  Deliver(One(2458, 1024, TOUCH_UP));
  b = CursorBundles(rx_);
  ASSERT_EQ(b.size(), 1u);
  why = Mismatch(b[0], Cur({}, {}, 2));
  EXPECT_TRUE(why.empty()) << why;

  const auto docs = xml->documents(2);
  ASSERT_EQ(docs.size(), 2u);
  const float x = 2458 / 4096.0f;
  LibxmlView v = ParseWithLibxml(docs[0]);
  EXPECT_EQ(v.packet, "127.0.0.1 3000 1");
  using Args = std::vector<std::vector<std::string>>;
  EXPECT_EQ(v.messages, (Args{Set(1, x, 0.25f, std::fabs(x - 0.5f), 0),
                              Set(0, 0, 0, 0, 0),
                              {"s:alive", "i:1", "i:0"},
                              {"s:fseq", "i:1"}}));
  v = ParseWithLibxml(docs[1]);
  EXPECT_EQ(
      v.messages,
      (Args{Set(0, 0, 0, 0, 0), Set(0, 0, 0, 0, 0), {"s:alive", "i:0", "i:0"}, {"s:fseq", "i:2"}}));

  // Stopped while touched: the receivers hear that no cursor is alive.
  NextTick();
  Deliver(One(100, 100, TOUCH_DOWN));
  rx_.drain(100);
  outputs_->StopTouchOutput();
  why = Mismatch(rx_.bundles(), {Cur({}, {}, -1), Obj(-1)});
  EXPECT_TRUE(why.empty()) << why;
  Deliver(One(100, 100, TOUCH_MOVE));  // stopped: nothing at all
  EXPECT_TRUE(rx_.drain(100).empty());
  EXPECT_TRUE(xml->documents(1, 100).empty());
}

TEST_F(OutputsWire, TablesGoOutAsOneBundleAnd32Frames) {
  outputs_->SetDevice({0x4300, false});
  auto xml = Client();
  outputs_->StartTouchOutput();
  rx_.drain(100);
  ContactTable t{};
  t.entry[2] = {2, TOUCH_DOWN, 16380, 32760};
  Deliver(t, 3);
  const auto b = CursorBundles(rx_);
  ASSERT_EQ(b.size(), 1u);
  const std::string why = Mismatch(b[0], Cur({0}, {{0, 0.5f, 1.0f, 0, 0, 0}}, 31));
  EXPECT_TRUE(why.empty()) << why;
  const auto docs = xml->documents(1);
  ASSERT_EQ(docs.size(), 1u);
  const LibxmlView v = ParseWithLibxml(docs[0]);
  ASSERT_EQ(v.messages.size(), 5u);
  EXPECT_EQ(v.messages[2], Set(1, 0.5f, 1.0f, 0.5f, 1.0f));
  EXPECT_EQ(v.messages[3], (std::vector<std::string>{"s:alive", "i:0", "i:0", "i:1"}));

  // Stopped with the finger down (the frame unplugged, say): the client
  // hears it lift before the output goes quiet.
  outputs_->StopTouchOutput();
  const auto lift = xml->documents(1);
  ASSERT_EQ(lift.size(), 1u);
  EXPECT_EQ(ParseWithLibxml(lift[0]).messages,
            (std::vector<std::vector<std::string>>{Set(0, 0, 0, 0, 0),
                                                   Set(0, 0, 0, 0, 0),
                                                   Set(0, 0, 0, 0, 0),
                                                   {"s:alive", "i:0", "i:0", "i:0"},
                                                   {"s:fseq", "i:2"}}));
}

TEST_F(OutputsWire, AStalledXmlClientDoesNotHoldUpTuio) {
  outputs_->SetDevice({0x4300, false});
  auto stalled = Client();  // connects and never reads
  outputs_->StartTouchOutput();
  rx_.drain(100);

  std::atomic<bool> sending{true};
  std::int32_t lastFseq = -1;
  std::size_t bundles = 0;
  std::thread receiver([&] {
    for (;;) {
      const bool last = !sending;
      const auto got = rx_.bundles(20);
      for (auto& b : got) {
        if (b.messages.back().address != "/tuio/2Dcur") continue;
        ++bundles;
        lastFseq = std::get<std::int32_t>(b.messages.back().args[1]);
      }
      if (last && got.empty()) break;
    }
  });
  // Every table adds or removes ten cursors: one bundle each, and a 3 KB
  // document each, far more than the stalled client's buffers hold.
  constexpr int kTables = 2000;
  ContactTable t{};
  for (int i = 0; i < kTables; ++i) {
    for (int c = 0; c < 10; ++c)
      t.entry[c] = {std::uint16_t(c), std::uint16_t(i % 2 ? TOUCH_UP : TOUCH_DOWN), 1000, 1000};
    Deliver(t, 10);
  }
  EXPECT_TRUE(WaitFor([&] { return outputs_->XmlLink().DroppedClients() == 1u; }, 30000));
  sending = false;  // the receiver ends once no datagram comes for 20 ms: all were sent
  receiver.join();
  EXPECT_EQ(outputs_->XmlLink().DroppedClients(), 1u);
  EXPECT_EQ(lastFseq, 32 * kTables - 1);
  EXPECT_GT(bundles, std::size_t(kTables * 9 / 10));
}

}  // namespace
