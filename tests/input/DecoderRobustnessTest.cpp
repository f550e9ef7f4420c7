// Random reports in every layout: the decoder and the routing must never
// read or write outside their tables (run under ASan/UBSan for the proof),
// and what reaches the outputs stays within the records' rules.
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "input/ReportRouting.h"
#include "input/TouchDecoder.h"

namespace {

constexpr std::uint16_t kXmlMark = 0xFFFF;

bool ValidState(std::uint32_t s) {
  return s == 0 || s == TOUCH_DOWN || s == TOUCH_MOVE || s == TOUCH_UP;
}

class CheckingSinks : public TuioTouchSink, public XmlTouchSink {
 public:
  int frames = 0, tables = 0;
  void updateFromFrame(const TouchFrame& f) override {
    ++frames;
    for (const TouchSlot& s : f.slot) ASSERT_TRUE(ValidState(s.state)) << s.state;
  }
  void updateFromTable(const ContactTable& t, std::uint16_t count) override {
    ++tables;
    ASSERT_LE(count, kContactTableSize);
    for (int i = 0; i < kContactTableSize; ++i) {
      const TouchContact& e = t.entry[i];
      // A second report without its first decodes onto the table as the
      // XML sender left it (its marks are 0xFFFF here).
      ASSERT_TRUE(ValidState(e.state) || e.state == kXmlMark) << e.state;
      if (e.state != 0) {
        ASSERT_EQ(e.id, i);
      }
    }
  }
  void sendFrameDocument(const TouchFrame&) override {}
  void sendTableDocument(ContactTable& t, std::uint16_t count) override {
    ASSERT_LE(count, kContactTableSize);
    // As the XML sender does, rewrite the states of the contacts it walks.
    for (int i = 0; i < count; ++i) {
      if (t.entry[i].state != 0) t.entry[i].state = kXmlMark;
    }
  }
};

TEST(DecoderRobustness, RandomReportsInEveryLayout) {
  struct Model {
    std::uint16_t version, product;
  } models[] = {{0x2100, 0x0021}, {0x2105, 0x0021}, {0x4013, 0x0021},
                {0x0201, 0x0113}, {0x3301, 0x0021}, {0x6FFF, 0x0021}};
  std::mt19937 rng(20261208);
  std::uniform_int_distribution<int> byte(0, 255);
  for (const Model& m : models) {
    DeviceProfile profile;
    profile.VendorID = 0x3D5E;
    profile.ProductID = m.product;
    profile.VersionNumber = m.version;
    profile.Series01xx = IsSeries01xxProduct(m.product);
    profile.InputReportID = 0xFC;
    PipelineState state;
    CheckingSinks sinks;
    TouchDecoder decoder;
    decoder.SetSinks(&sinks, &sinks);
    std::array<std::uint8_t, 64> r;
    for (int i = 0; i < 50000; ++i) {
      for (auto& b : r) b = static_cast<std::uint8_t>(byte(rng));
      // Bias toward the bytes that steer each layout.
      if (i % 2) r[37] = static_cast<std::uint8_t>(byte(rng) % 12);
      if (i % 3 == 0) r[2] = 0;
      // A random read-back now and then: arbitrary words switch the mapping on.
      if (i % 1000 == 0) state.calibrationValid = ApplyReadBack(r.data(), state.calibration);
      const ReaderFlags flags{true, false, false};
      if (RouteSingleReport(r.data(), profile, flags) == ReportAction::kSeriesMode) {
        SeriesMode mode;
        ParseSeriesMode(r.data(), profile.VersionNumber, mode);
      }
      RouteTouchReport(r.data(), profile, flags);
      RouteReplyReport(r.data(), flags);
      decoder.DecodeTouchReport(state, profile, r.data());
      if (HasFatalFailure()) return;
    }
    EXPECT_GT(sinks.frames + sinks.tables, 10000) << std::hex << m.version;
  }
}

}  // namespace
