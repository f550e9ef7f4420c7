// The XML server's rules: identifiers, compaction, first-record
// suppression, the table walk, and the cycle. Documents read back with the
// monitor's reader.
#include <gtest/gtest.h>

#include <initializer_list>

#include "output/XmlTouchServer.h"
#include "tools/monitor/TouchDocumentReader.h"

namespace {

using monitor::TouchDocument;

TouchFrame Frame(std::initializer_list<TouchSlot> slots) {
  TouchFrame f{};
  int k = 0;
  for (const TouchSlot& s : slots) f.slot[k++] = s;
  return f;
}

float U(std::uint32_t v) {
  return float(double(v) / 4096.0);
}
float S(std::uint32_t v) {
  return float(double(v) / 32760.0);
}

class XmlRules : public ::testing::Test {
 protected:
  void Start(std::uint16_t version, bool series = false) {
    srv_.setDevice({version, series});
    srv_.startCycle();
  }
  TouchDocument Doc() {
    std::string why;
    auto d = monitor::ReadTouchDocument(srv_.document(), &why);
    EXPECT_TRUE(d) << why << "\n" << srv_.document();
    return d ? *d : TouchDocument{};
  }
  static void ExpectSet(const monitor::TouchSet& s, int id, float x, float y, float dx, float dy) {
    EXPECT_EQ(s.id, id);
    // Six decimals on the wire.
    EXPECT_NEAR(s.x, x, 1e-6);
    EXPECT_NEAR(s.y, y, 1e-6);
    EXPECT_NEAR(s.dx, dx, 1e-6);
    EXPECT_NEAR(s.dy, dy, 1e-6);
  }
  static std::vector<int> Ids(const TouchDocument& d) {
    std::vector<int> ids;
    for (auto& s : d.sets) ids.push_back(s.id);
    EXPECT_EQ(ids, std::vector<int>(d.alive.begin(), d.alive.end()));
    return ids;
  }

  XmlTouchServer srv_;
};

TEST_F(XmlRules, FirstRecordAfterStartIsNotSentThenDeltasFromTheDown) {
  Start(0x3002);
  srv_.sendFrameDocument(Frame({{2048, 1024, TOUCH_DOWN}}));
  EXPECT_EQ(srv_.documentCounter(), 0);
  EXPECT_EQ(srv_.document(), "");

  srv_.sendFrameDocument(Frame({{2458, 1024, TOUCH_MOVE}}));
  EXPECT_EQ(srv_.documentCounter(), 1);
  const TouchDocument d = Doc();
  ASSERT_EQ(d.sets.size(), 2u);
  ExpectSet(d.sets[0], 1, U(2458), 0.25f, U(2458) - 0.5f, 0.0f);
  ExpectSet(d.sets[1], 0, 0, 0, 0, 0);
  EXPECT_EQ(d.alive, (std::vector<std::int32_t>{1, 0}));
  EXPECT_EQ(d.fseq, 1);
}

TEST_F(XmlRules, LastLiftSendsOneEmptyDocumentThenNothing) {
  Start(0x3002);
  srv_.sendFrameDocument(Frame({{2048, 1024, TOUCH_DOWN}}));
  srv_.sendFrameDocument(Frame({{2100, 1024, TOUCH_MOVE}}));
  srv_.sendFrameDocument(Frame({{2100, 1024, TOUCH_UP}}));
  EXPECT_EQ(srv_.documentCounter(), 2);
  const TouchDocument d = Doc();
  EXPECT_EQ(Ids(d), (std::vector<int>{0, 0}));
  for (auto& s : d.sets) ExpectSet(s, 0, 0, 0, 0, 0);

  srv_.sendFrameDocument(Frame({{0, 0, TOUCH_UP}}));
  srv_.sendFrameDocument(Frame({}));
  EXPECT_EQ(srv_.documentCounter(), 2);

  // A new touch after the untouched spell: its down is held back again.
  srv_.sendFrameDocument(Frame({{400, 400, TOUCH_DOWN}}));
  EXPECT_EQ(srv_.documentCounter(), 2);
  srv_.sendFrameDocument(Frame({{410, 400, TOUCH_MOVE}}));
  EXPECT_EQ(srv_.documentCounter(), 3);
}

TEST_F(XmlRules, TwoPointFramesCompactOnlyTheSecondPoint) {
  Start(0x3002);
  srv_.sendFrameDocument(Frame({{0, 0, 0}, {1000, 2000, TOUCH_DOWN}}));
  EXPECT_EQ(srv_.documentCounter(), 0);
  srv_.sendFrameDocument(Frame({{0, 0, TOUCH_UP}, {1100, 2000, TOUCH_MOVE}}));
  const TouchDocument d = Doc();
  EXPECT_EQ(Ids(d), (std::vector<int>{2, 0}));
  // The difference is taken against the previous entry of the same slot
  // index (entry 1, empty), not against where the point was listed (0).
  ExpectSet(d.sets[0], 2, U(1100), U(2000), U(1100), U(2000));
}

TEST_F(XmlRules, TwoPointFramesUseFixedIdentifiersAndOnlyTwoSlots) {
  Start(0x4012);
  srv_.sendFrameDocument(Frame({{1, 1, TOUCH_DOWN}, {2, 2, TOUCH_DOWN}, {3, 3, TOUCH_DOWN}}));
  srv_.sendFrameDocument(Frame({{1, 1, TOUCH_MOVE}, {2, 2, TOUCH_MOVE}, {3, 3, TOUCH_MOVE}}));
  EXPECT_EQ(Ids(Doc()), (std::vector<int>{1, 2}));
}

TEST_F(XmlRules, FourPointFramesNumberEveryDownAfresh) {
  Start(0x4013);
  srv_.sendFrameDocument(Frame({{100, 100, TOUCH_DOWN}}));
  srv_.sendFrameDocument(Frame({{110, 100, TOUCH_MOVE}, {500, 500, TOUCH_DOWN}}));
  EXPECT_EQ(Ids(Doc()), (std::vector<int>{1, 2, 0, 0}));
  srv_.sendFrameDocument(Frame({{110, 100, TOUCH_UP}, {510, 500, TOUCH_MOVE}}));
  EXPECT_EQ(Ids(Doc()), (std::vector<int>{2, 0, 0, 0}));
  srv_.sendFrameDocument(Frame({{300, 300, TOUCH_DOWN}, {520, 500, TOUCH_MOVE}}));
  EXPECT_EQ(Ids(Doc()), (std::vector<int>{3, 2, 0, 0}));
  EXPECT_EQ(srv_.documentCounter(), 3);

  // Each start: identifiers and the document counter begin again.
  srv_.stopCycle();
  Start(0x4013);
  srv_.sendFrameDocument(Frame({{100, 100, TOUCH_DOWN}}));
  srv_.sendFrameDocument(Frame({{100, 100, TOUCH_MOVE}}));
  EXPECT_EQ(Ids(Doc()), (std::vector<int>{1, 0, 0, 0}));
  EXPECT_EQ(Doc().fseq, 1);
}

TEST_F(XmlRules, Series01xxFramesHaveTwoEntriesIn32760ths) {
  Start(0x4013, true);
  srv_.sendFrameDocument(Frame({{32760, 16380, TOUCH_DOWN}}));
  srv_.sendFrameDocument(Frame({{32760, 16380, TOUCH_MOVE}}));
  const TouchDocument d = Doc();
  ASSERT_EQ(d.sets.size(), 2u);
  ExpectSet(d.sets[0], 1, 1.0f, 0.5f, 0.0f, 0.0f);
}

TEST_F(XmlRules, RecordsWhileStoppedAreIgnored) {
  srv_.setDevice({0x4013, false});
  srv_.sendFrameDocument(Frame({{100, 100, TOUCH_DOWN}}));
  ContactTable t{};
  srv_.sendTableDocument(t, 0);
  EXPECT_EQ(srv_.documentCounter(), 0);
  Start(0x4013);
  srv_.stopCycle();
  srv_.sendTableDocument(t, 0);
  EXPECT_EQ(srv_.documentCounter(), 0);
}

ContactTable Table(std::initializer_list<std::pair<int, TouchContact>> entries) {
  ContactTable t{};
  for (auto& [i, c] : entries) t.entry[i] = c;
  return t;
}

TEST_F(XmlRules, TableCountZeroBuildsTheEmptyDocument) {
  Start(0x4300);
  ContactTable t{};
  srv_.sendTableDocument(t, 0);
  srv_.sendTableDocument(t, 0);
  EXPECT_EQ(srv_.documentCounter(), 2);
  EXPECT_EQ(srv_.document(), "");
}

TEST_F(XmlRules, TableIdentifiersPassThroughTheStateField) {
  Start(0x4300);
  ContactTable t = Table({{0, {0, TOUCH_DOWN, 16380, 8190}}, {3, {3, TOUCH_DOWN, 32760, 0}}});
  srv_.sendTableDocument(t, 4);
  EXPECT_EQ(t.entry[0].state, 1);
  EXPECT_EQ(t.entry[3].state, 2);
  TouchDocument d = Doc();
  EXPECT_EQ(Ids(d), (std::vector<int>{1, 0, 0, 2}));
  // No suppression and no compaction; differences against the (empty)
  // previous entries.
  ExpectSet(d.sets[0], 1, 0.5f, 0.25f, 0.5f, 0.25f);
  ExpectSet(d.sets[3], 2, 1.0f, 0.0f, 1.0f, 0.0f);

  t = Table({{0, {0, TOUCH_MOVE, 100, 100}}, {3, {3, TOUCH_UP, 500, 500}}});
  srv_.sendTableDocument(t, 4);
  EXPECT_EQ(t.entry[3].state, 0);
  EXPECT_EQ(t.entry[3].x, 0u);
  EXPECT_EQ(Ids(Doc()), (std::vector<int>{1, 0, 0, 0}));

  // A move at a position with no down since start reuses what the position
  // last held: 2 at position 3, nothing at position 5.
  t = Table({{3, {3, TOUCH_MOVE, 100, 100}}, {5, {5, TOUCH_MOVE, 100, 100}}});
  srv_.sendTableDocument(t, 6);
  EXPECT_EQ(Ids(Doc()), (std::vector<int>{0, 0, 0, 2, 0, 0}));
}

TEST_F(XmlRules, TableCountBeyondTheTableWalks32Positions) {
  Start(0x4300);
  ContactTable t{};
  for (int i = 0; i < kContactTableSize; ++i)
    t.entry[i] = {std::uint16_t(i), TOUCH_DOWN, std::uint32_t(100 * i), 0};
  srv_.sendTableDocument(t, 255);
  TouchDocument d = Doc();
  ASSERT_EQ(d.sets.size(), 32u);
  EXPECT_EQ(d.sets[31].id, 32);
  ExpectSet(d.sets[31], 32, S(3100), 0, S(3100), 0);

  // Positions 6 and up keep their identifiers like the others.
  for (auto& c : t.entry) c.state = TOUCH_MOVE;
  srv_.sendTableDocument(t, 40);
  d = Doc();
  for (int i = 0; i < kContactTableSize; ++i) EXPECT_EQ(d.sets[std::size_t(i)].id, i + 1);
}

TEST_F(XmlRules, AnIdentifierThatIsAMultipleOf65536LeavesItsEntryEmpty) {
  Start(0x4300);
  ContactTable t{};
  for (int i = 1; i < 65536; ++i) {
    t.entry[0] = {0, TOUCH_DOWN, 10, 10};
    srv_.sendTableDocument(t, 1);
  }
  EXPECT_EQ(Ids(Doc()), (std::vector<int>{65535}));
  t.entry[0] = {0, TOUCH_DOWN, 10, 10};
  srv_.sendTableDocument(t, 1);
  EXPECT_EQ(Ids(Doc()), (std::vector<int>{0}));
  t.entry[0] = {0, TOUCH_DOWN, 10, 10};
  srv_.sendTableDocument(t, 1);
  EXPECT_EQ(Ids(Doc()), (std::vector<int>{1}));  // 65537 in 16 bits
}

// A stop while the last document listed a touch sends the document a lift
// of every finger gives: as many entries, all empty, the next fseq. A stop
// after the lift (or before anything was sent) sends nothing more.
TEST_F(XmlRules, StopWhileTouchedSendsTheLiftOfEveryFinger) {
  struct Case {
    const char* name;
    std::uint16_t version;
    bool series;
    bool table;
    int touched;  // records with touches before the stop
    bool liftedFirst;
    int liftEntries;  // 0: no document at the stop
  };
  const Case cases[] = {
      {"two-point", 0x3002, false, false, 2, false, 2},
      {"four-point", 0x4013, false, false, 2, false, 4},
      {"Series01xx", 0x4013, true, false, 2, false, 2},
      {"table", 0x4300, false, true, 1, false, 5},
      {"two-point lifted", 0x3002, false, false, 2, true, 0},
      {"table lifted", 0x4300, false, true, 1, true, 0},
      {"first record held back", 0x4013, false, false, 1, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(c.version, c.series);
    ContactTable t{};
    for (int r = 0; r < c.touched; ++r) {
      const std::uint32_t state = r == 0 ? TOUCH_DOWN : TOUCH_MOVE;
      if (c.table) {
        t = Table({{1, {1, std::uint16_t(state), 100, 100}}, {4, {4, std::uint16_t(state), 9, 9}}});
        srv_.sendTableDocument(t, 5);
      } else {
        srv_.sendFrameDocument(Frame({{100, 100, state}, {200, 200, state}}));
      }
    }
    if (c.liftedFirst) {
      if (c.table) {
        t = Table({{1, {1, TOUCH_UP, 0, 0}}, {4, {4, TOUCH_UP, 0, 0}}});
        srv_.sendTableDocument(t, 5);
      } else {
        srv_.sendFrameDocument(Frame({{0, 0, TOUCH_UP}, {0, 0, TOUCH_UP}}));
      }
    }
    const std::int32_t before = srv_.documentCounter();
    const std::string last(srv_.document());
    srv_.stopCycle();
    if (c.liftEntries == 0) {
      EXPECT_EQ(srv_.document(), last);
      continue;
    }
    const TouchDocument d = Doc();
    EXPECT_EQ(Ids(d), std::vector<int>(std::size_t(c.liftEntries), 0));
    for (auto& s : d.sets) ExpectSet(s, 0, 0, 0, 0, 0);
    EXPECT_EQ(d.fseq, before + 1);
    EXPECT_EQ(srv_.documentCounter(), 0);  // then the counters start over
  }
}

}  // namespace
