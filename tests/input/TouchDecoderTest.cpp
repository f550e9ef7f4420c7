#include <gtest/gtest.h>

#include <array>
#include <initializer_list>

#include "RecordingSinks.h"
#include "input/TouchDecoder.h"

namespace {

using Report = std::array<std::uint8_t, 64>;

void Put16(Report& r, int at, unsigned v) {
  r[at] = static_cast<std::uint8_t>(v & 0xFF);
  r[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// A frame of the given model with a decoder wired to recording sinks.
struct Bench {
  explicit Bench(std::uint16_t version, std::uint16_t product = 0x0021) {
    profile.VendorID = 0x3D5E;
    profile.ProductID = product;
    profile.VersionNumber = version;
    profile.Series01xx = IsSeries01xxProduct(product);
    profile.InputReportID = version < 0x2101 ? 0x02 : 0xFC;
    decoder.SetSinks(&sinks, &sinks);
  }
  void Decode(const Report& r) { decoder.DecodeTouchReport(state, profile, r.data()); }
  const TouchFrame& LastFrame() const { return sinks.tuio.back().frame; }

  DeviceProfile profile;
  PipelineState state;
  RecordingSinks sinks;
  TouchDecoder decoder;
};

// ---- Layouts A, B, C: 7-byte slots with a tip byte -------------------------

struct PointLayout {
  std::uint16_t version;
  int base, slots;
};
const PointLayout kA{0x2100, 1, 2}, kB{0x2105, 3, 2}, kC{0x4013, 3, 4};

Report Points(const PointLayout& l, std::initializer_list<std::array<unsigned, 3>> tips) {
  Report r{};
  r[0] = l.version < 0x2101 ? 0x02 : 0xFC;
  int k = 0;
  for (const auto& t : tips) {
    const int at = l.base + 7 * k++;
    r[at] = static_cast<std::uint8_t>(t[0]);
    Put16(r, at + 1, t[1]);
    Put16(r, at + 3, t[2]);
  }
  return r;
}

TEST(DecodePoints, TipSequenceGivesUpDownMoveUpInEveryLayout) {
  for (const PointLayout& l : {kA, kB, kC}) {
    Bench b(l.version);
    const unsigned tips[] = {0, 1, 1, 0};
    const std::uint32_t want[] = {TOUCH_UP, TOUCH_DOWN, TOUCH_MOVE, TOUCH_UP};
    for (int i = 0; i < 4; ++i) {
      b.Decode(Points(l, {{tips[i], 100u + i, 200u + i}, {0, 7, 8}}));
      const TouchFrame& f = b.LastFrame();
      EXPECT_EQ(f.slot[0].state, want[i]) << std::hex << l.version << " step " << i;
      EXPECT_EQ(f.slot[0].x, 100u + i);
      EXPECT_EQ(f.slot[0].y, 200u + i);
      EXPECT_EQ(f.slot[1].x, 7u);
      EXPECT_EQ(f.slot[1].y, 8u);
    }
    EXPECT_EQ(b.sinks.order, "txtxtxtx");
  }
}

TEST(DecodePoints, LayoutCReadsFourSlotsAndTip2IsUpButStillTouching) {
  Bench b(kC.version);
  b.Decode(Points(kC, {{2, 1, 2}, {1, 3, 4}, {1, 5, 6}, {1, 4095, 4094}}));
  const TouchFrame& f = b.LastFrame();
  EXPECT_EQ(f.slot[0].state, TOUCH_UP);
  EXPECT_EQ(f.slot[1].state, TOUCH_DOWN);
  EXPECT_EQ(f.slot[3].state, TOUCH_DOWN);
  EXPECT_EQ(f.slot[3].x, 4095u);
  EXPECT_EQ(f.slot[3].y, 4094u);
  b.Decode(Points(kC, {{1, 1, 2}, {0, 3, 4}, {1, 5, 6}, {1, 4095, 4094}}));
  EXPECT_EQ(b.LastFrame().slot[0].state, TOUCH_MOVE);  // tip 2 counted as touching
  EXPECT_EQ(b.LastFrame().slot[1].state, TOUCH_UP);
  EXPECT_EQ(b.LastFrame().slot[2].state, TOUCH_MOVE);
}

TEST(DecodePoints, TwoPointLayoutsLeaveSlotsThreeAndFourAsTheyWere) {
  Bench b(kB.version);
  b.Decode(Points(kB, {{1, 10, 20}, {1, 30, 40}}));
  for (int k = 2; k < 4; ++k) {
    EXPECT_EQ(b.LastFrame().slot[k].state, 0u);
    EXPECT_EQ(b.LastFrame().slot[k].x, 0u);
  }
  // In layout B, tip 2 counts as touching (any non-zero tip does).
  b.Decode(Points(kB, {{2, 10, 20}, {0, 30, 40}}));
  EXPECT_EQ(b.LastFrame().slot[0].state, TOUCH_MOVE);
  EXPECT_EQ(b.LastFrame().slot[1].state, TOUCH_UP);
}

// The worked block of the calibration: (2000, 2000) maps to (2048, 2047).
void LoadWorkedBlock(PipelineState& w) {
  const int words[12] = {512, 512, 3583, 512, 3583, 3583, 1000, 500, 3000, 500, 3000, 3500};
  std::uint8_t bytes[24];
  for (int i = 0; i < 12; ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(words[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(words[i] >> 8);
  }
  StoreCalibrationBlock(bytes, w.calibration);
  w.calibration.ComputeCalibration();
}

TEST(DecodePoints, CalibrationMapsSingleChannelLayoutsAAndBOnly) {
  struct Case {
    std::uint16_t version;
    int valid;
    bool mapped;
  } cases[] = {
      {kA.version, 1, true},  {kB.version, 255, true}, {kA.version, 0, false},
      {0x3105, 1, false},  // layout B, but split-channel: the frame calibrates itself
      {kC.version, 1, false},
  };
  for (const Case& c : cases) {
    Bench b(c.version);
    LoadWorkedBlock(b.state);
    b.state.calibrationValid = c.valid;
    const PointLayout& l = c.version == kA.version ? kA : c.version == kC.version ? kC : kB;
    // Both slots map every report, whatever their state.
    b.Decode(Points(l, {{0, 2000, 2000}, {1, 200, 4000}}));
    const TouchFrame& f = b.LastFrame();
    if (c.mapped) {
      EXPECT_EQ(f.slot[0].x, 2048u) << std::hex << c.version;
      EXPECT_EQ(f.slot[0].y, 2047u);
      EXPECT_EQ(f.slot[1].x, 1u);
      EXPECT_EQ(f.slot[1].y, 4094u);
    } else {
      EXPECT_EQ(f.slot[0].x, 2000u) << std::hex << c.version;
      EXPECT_EQ(f.slot[1].y, 4000u);
    }
  }
}

TEST(DecodePoints, CalibrationOnWithoutABlockPassesPointsThrough) {
  Bench b(kA.version);
  b.state.calibrationValid = 1;  // a finished calibration before any read-back
  b.Decode(Points(kA, {{1, 1234, 567}, {0, 0, 0}}));
  EXPECT_EQ(b.LastFrame().slot[0].x, 1234u);
  EXPECT_EQ(b.LastFrame().slot[0].y, 567u);
}

// ---- Layout F: Series01xx ----------------------------------------------------

Report Series(int event1, int contact1, unsigned x1, unsigned y1, int event2, unsigned x2,
              unsigned y2, int points) {
  Report r{};
  r[0] = 0xFD;
  r[1] = 0x01;
  r[2] = static_cast<std::uint8_t>(event1);
  r[3] = static_cast<std::uint8_t>(contact1);
  Put16(r, 4, x1);
  Put16(r, 6, y1);
  r[8] = static_cast<std::uint8_t>(event2);
  r[9] = 0xEE;
  Put16(r, 10, x2);
  Put16(r, 12, y2);
  r[14] = static_cast<std::uint8_t>(points);
  return r;
}

TEST(DecodeSeries, EventCodesAndPointCounts) {
  Bench b(0x0201, 0x0113);
  b.Decode(Series(0, 1, 100, 200, 0, 300, 400, 2));
  EXPECT_EQ(b.LastFrame().slot[0].state, TOUCH_DOWN);
  EXPECT_EQ(b.LastFrame().slot[1].state, TOUCH_DOWN);
  b.Decode(Series(7, 1, 110, 210, 4, 310, 410, 2));
  EXPECT_EQ(b.LastFrame().slot[0].state, TOUCH_MOVE);
  EXPECT_EQ(b.LastFrame().slot[1].state, TOUCH_UP);
  // Event code 1: the state stays, the coordinates move.
  b.Decode(Series(1, 1, 32760, 16000, 1, 5, 6, 2));
  EXPECT_EQ(b.LastFrame().slot[0].state, TOUCH_MOVE);
  EXPECT_EQ(b.LastFrame().slot[0].x, 32760u);
  EXPECT_EQ(b.LastFrame().slot[0].y, 16000u);
  EXPECT_EQ(b.LastFrame().slot[1].state, TOUCH_UP);
  EXPECT_EQ(b.LastFrame().slot[1].x, 5u);
  // One point with contact number 2: its state goes to slot 2, slot 1 lifts,
  // and slot 2 still takes its coordinates from bytes 10-13.
  b.Decode(Series(0, 2, 1, 2, 9, 777, 888, 1));
  EXPECT_EQ(b.LastFrame().slot[0].state, TOUCH_UP);
  EXPECT_EQ(b.LastFrame().slot[1].state, TOUCH_DOWN);
  EXPECT_EQ(b.LastFrame().slot[1].x, 777u);
  EXPECT_EQ(b.LastFrame().slot[1].y, 888u);
  // One point with contact number 1.
  b.Decode(Series(7, 1, 1, 2, 0, 0, 0, 1));
  EXPECT_EQ(b.LastFrame().slot[0].state, TOUCH_MOVE);
  EXPECT_EQ(b.LastFrame().slot[1].state, TOUCH_UP);
  // Other counts change no state.
  b.Decode(Series(0, 1, 1, 2, 0, 0, 0, 3));
  EXPECT_EQ(b.LastFrame().slot[0].state, TOUCH_MOVE);
  EXPECT_EQ(b.LastFrame().slot[2].state, 0u);  // slots 3 and 4 never written
  // A mode write's echo names no point: the held finger stays where it was
  // (the mode bytes are no coordinates), and it is still a frame.
  Report echo{};
  for (int i = 0; i < 7; ++i) echo[i] = std::uint8_t(i == 0 ? 0xFD : i == 1 ? 0x08 : i);
  b.Decode(echo);
  EXPECT_EQ(b.LastFrame().slot[0].state, TOUCH_MOVE);
  EXPECT_EQ(b.LastFrame().slot[0].x, 1u);
  EXPECT_EQ(b.LastFrame().slot[0].y, 2u);
  EXPECT_EQ(b.sinks.tuio.size(), 7u);
  EXPECT_EQ(b.sinks.xml.size(), 7u);
}

TEST(DecodeSeries, NoCalibrationIsApplied) {
  Bench b(0x2100, 0x0113);
  LoadWorkedBlock(b.state);
  b.state.calibrationValid = 1;
  b.Decode(Series(0, 1, 2000, 2000, 0, 0, 0, 1));
  EXPECT_EQ(b.LastFrame().slot[0].x, 2000u);
}

// ---- Layout MT: the contact table ---------------------------------------------

struct Slot {
  int status, id;
  unsigned x, y;
};

Report Table(std::initializer_list<Slot> slots, int n) {
  Report r{};
  r[0] = 0xFB;
  int k = 0;
  for (const Slot& s : slots) {
    const int at = 1 + 6 * k++;
    r[at] = static_cast<std::uint8_t>(s.status);
    r[at + 1] = static_cast<std::uint8_t>(s.id);
    Put16(r, at + 2, s.x);
    Put16(r, at + 4, s.y);
  }
  r[37] = static_cast<std::uint8_t>(n);
  return r;
}

TEST(DecodeMultiTouch, Status2OpensAndClosesAContact) {
  Bench b(0x3301);
  b.Decode(Table({{2, 0, 10, 11}, {2, 1, 20, 21}, {2, 2, 30, 31}}, 3));
  ASSERT_EQ(b.sinks.tuio.size(), 1u);
  const Dispatched& d = b.sinks.tuio.back();
  EXPECT_EQ(d.kind, 'T');
  EXPECT_EQ(d.count, 3);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(d.table.entry[c].id, c);
    EXPECT_EQ(d.table.entry[c].state, TOUCH_DOWN);
    EXPECT_EQ(d.table.entry[c].x, 10u * (c + 1));
  }
  b.Decode(Table({{3, 0, 10, 11}, {3, 1, 20, 21}, {3, 2, 30, 31}}, 3));
  EXPECT_EQ(b.sinks.tuio.back().table.entry[1].state, TOUCH_MOVE);
  b.Decode(Table({{3, 0, 10, 11}, {2, 1, 20, 21}, {3, 2, 30, 31}}, 3));
  EXPECT_EQ(b.sinks.tuio.back().table.entry[1].state, TOUCH_UP);
  EXPECT_EQ(b.sinks.tuio.back().table.entry[0].state, TOUCH_MOVE);
  b.Decode(Table({{2, 1, 20, 21}}, 1));  // after an up, status 2 opens again
  EXPECT_EQ(b.sinks.tuio.back().table.entry[1].state, TOUCH_DOWN);
  EXPECT_EQ(b.sinks.tuio.back().table.entry[0].state, 0u);  // cleared each frame
  EXPECT_EQ(b.sinks.order, "txtxtxtx");
}

TEST(DecodeMultiTouch, Status3RulesAndMeaninglessStatuses) {
  Bench b(0x4300);
  b.Decode(Table({{3, 5, 1, 1}}, 1));  // never seen: move, not down
  EXPECT_EQ(b.sinks.tuio.back().table.entry[5].state, TOUCH_MOVE);
  b.Decode(Table({{2, 5, 1, 1}}, 1));
  EXPECT_EQ(b.sinks.tuio.back().table.entry[5].state, TOUCH_UP);
  b.Decode(Table({{3, 5, 1, 1}}, 1));  // after an up: down
  EXPECT_EQ(b.sinks.tuio.back().table.entry[5].state, TOUCH_DOWN);
  b.Decode(Table({{7, 5, 9, 9}}, 1));  // no meaning: state stays 0 after the clear
  EXPECT_EQ(b.sinks.tuio.back().table.entry[5].state, 0u);
  EXPECT_EQ(b.sinks.tuio.back().table.entry[5].x, 9u);
  b.Decode(Table({{3, 5, 1, 1}}, 1));  // lastState was set to 0: move
  EXPECT_EQ(b.sinks.tuio.back().table.entry[5].state, TOUCH_MOVE);
}

TEST(DecodeMultiTouch, NineContactsComeInTwoReports) {
  Bench b(0x3301);
  b.Decode(Table(
      {{2, 0, 0, 0}, {2, 1, 1, 1}, {2, 2, 2, 2}, {2, 3, 3, 3}, {2, 4, 4, 4}, {2, 5, 5, 5}}, 9));
  EXPECT_TRUE(b.sinks.tuio.empty());  // the first report dispatches nothing
  // The second report: five slots decoded; a sixth one is ignored.
  b.Decode(Table(
      {{2, 6, 6, 6}, {2, 7, 7, 7}, {2, 8, 8, 8}, {2, 9, 9, 9}, {2, 10, 10, 10}, {2, 11, 11, 11}},
      9));
  ASSERT_EQ(b.sinks.tuio.size(), 1u);
  const Dispatched& d = b.sinks.tuio.back();
  EXPECT_EQ(d.count, 9);
  for (int c = 0; c <= 10; ++c) EXPECT_EQ(d.table.entry[c].state, TOUCH_DOWN) << c;
  EXPECT_EQ(d.table.entry[11].state, 0u);
  EXPECT_EQ(b.sinks.xml.back().count, 9);
}

TEST(DecodeMultiTouch, EmptyFrameAndOutOfRangeIdsAndCounts) {
  Bench b(0x3301);
  b.Decode(Table({}, 0));
  ASSERT_EQ(b.sinks.tuio.size(), 1u);
  EXPECT_EQ(b.sinks.tuio.back().count, 0);
  EXPECT_EQ(b.sinks.xml.back().count, 0);
  b.Decode(Table({{2, 32, 1, 1}, {2, 255, 1, 1}, {2, 31, 5, 5}}, 3));
  EXPECT_EQ(b.sinks.tuio.back().table.entry[31].state, TOUCH_DOWN);
  // A count beyond the table reaches the outputs as the table's size.
  b.Decode(Table({{2, 1, 1, 1}}, 200));  // second report of a frame (slot 0 id 1)
  EXPECT_EQ(b.sinks.tuio.back().count, 32);
  EXPECT_EQ(b.sinks.xml.back().count, 32);
}

// ---- the outputs start again while a finger stays on the frame ---------------

// The held finger's report moves it before and after; once the decoder has
// forgotten its touches (the outputs started with none) it opens a touch.
TEST(ForgetTouches, AHeldFingerOpensATouchInEveryLayout) {
  struct Row {
    const char* layout;
    std::uint16_t version, product;
    Report held;
    bool table;
  };
  const Row rows[] = {
      {"A", kA.version, 0x0021, Points(kA, {{1, 10, 20}}), false},
      {"C", kC.version, 0x0021, Points(kC, {{1, 10, 20}}), false},
      {"F", 0x0201, 0x0113, Series(7, 1, 10, 20, 0, 0, 0, 1), false},
      {"MT", 0x3301, 0x0021, Table({{3, 4, 10, 20}}, 1), true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.layout);
    Bench b(r.version, r.product);
    const auto state = [&] {
      return r.table ? b.sinks.tuio.back().table.entry[4].state : b.LastFrame().slot[0].state;
    };
    b.Decode(r.held);  // a warm decoder: the finger is seen touching
    b.Decode(r.held);
    EXPECT_EQ(state(), TOUCH_MOVE);
    b.decoder.ForgetTouches();
    b.Decode(r.held);
    EXPECT_EQ(state(), TOUCH_DOWN);
    b.Decode(r.held);
    EXPECT_EQ(state(), TOUCH_MOVE);
  }
}

}  // namespace
