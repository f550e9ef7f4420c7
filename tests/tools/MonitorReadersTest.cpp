// The monitor's readers: TUIO bundles into cursor changes, XML documents
// into touches, and what they refuse; the cursor paths it draws.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "osc/OscOutboundPacketStream.h"
#include "tools/monitor/CursorPaths.h"
#include "tools/monitor/TouchDocumentReader.h"
#include "tools/monitor/TuioCursorTracker.h"

namespace {

using monitor::CursorEvent;

struct Set {
  int id;
  float x, y;
};

std::vector<char> Bundle(const std::vector<int>& alive, const std::vector<Set>& sets, int fseq) {
  std::vector<char> buf(1500);
  osc::OutboundPacketStream p(buf.data(), buf.size());
  p << osc::BeginBundleImmediate << osc::BeginMessage("/tuio/2Dcur") << "alive";
  for (int id : alive) p << osc::int32(id);
  p << osc::EndMessage;
  for (const Set& s : sets)
    p << osc::BeginMessage("/tuio/2Dcur") << "set" << osc::int32(s.id) << s.x << s.y << 0.0f << 0.0f
      << 0.0f << osc::EndMessage;
  p << osc::BeginMessage("/tuio/2Dcur") << "fseq" << osc::int32(fseq) << osc::EndMessage
    << osc::EndBundle;
  buf.resize(p.Size());
  return buf;
}

std::vector<CursorEvent> Feed(monitor::TuioCursorTracker& t, const std::vector<char>& d) {
  auto b = monitor::DecodeTuioBundle(d.data(), d.size());
  EXPECT_TRUE(b);
  return b ? t.Update(*b) : std::vector<CursorEvent>{};
}

TEST(TuioTracker, CursorsAreAddedMovedAndRemoved) {
  monitor::TuioCursorTracker t;
  auto e = Feed(t, Bundle({0}, {{0, 0.5f, 0.25f}}, 0));
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].kind, CursorEvent::kAdded);
  EXPECT_EQ(e[0].x, 0.5f);

  e = Feed(t, Bundle({0, 1}, {{0, 0.6f, 0.25f}, {1, 0.1f, 0.1f}}, 1));
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].kind, CursorEvent::kMoved);
  EXPECT_EQ(e[1].kind, CursorEvent::kAdded);
  EXPECT_EQ(e[1].id, 1);

  // Listed but not set: no change. Then gone from the list: removed.
  EXPECT_TRUE(Feed(t, Bundle({0, 1}, {{0, 0.6f, 0.25f}}, 2)).empty());
  e = Feed(t, Bundle({1}, {}, 3));
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].kind, CursorEvent::kRemoved);
  EXPECT_EQ(e[0].id, 0);
  EXPECT_EQ(e[0].x, 0.6f);

  e = Feed(t, Bundle({}, {}, -1));
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(t.AliveCount(), 0u);
}

TEST(TuioTracker, MalformedDatagramsAreRefused) {
  std::vector<char> good = Bundle({0}, {{0, 0.5f, 0.5f}}, 4);
  std::string why;
  for (std::size_t cut : {std::size_t(3), good.size() / 2, good.size() - 1}) {
    std::vector<char> d(good.begin(), good.begin() + std::ptrdiff_t(cut));
    EXPECT_FALSE(monitor::DecodeTuioBundle(d.data(), d.size(), &why)) << cut;
  }
  std::vector<char> msg(256);
  osc::OutboundPacketStream p(msg.data(), msg.size());
  p << osc::BeginMessage("/tuio/2Dcur") << "fseq" << osc::int32(1) << osc::EndMessage;
  EXPECT_FALSE(monitor::DecodeTuioBundle(msg.data(), p.Size(), &why));  // not a bundle
}

TEST(XmlReader, ReadsADocumentWhateverItsSpacing) {
  const char* text =
      "<OSCPACKET TIME='1' ADDRESS=\"127.0.0.1\"  PORT=\"3000\">\n"
      " <MESSAGE NAME=\"/tuio/2Dcur\"><ARGUMENT TYPE=\"s\" VALUE=\"set\"/>"
      "<ARGUMENT TYPE=\"i\" VALUE=\"4\" /><ARGUMENT TYPE=\"f\" VALUE=\"0.5\" />"
      "<ARGUMENT TYPE=\"f\" VALUE=\"0.25\" /><ARGUMENT TYPE=\"f\" VALUE=\"0.1\" />"
      "<ARGUMENT TYPE=\"f\" VALUE=\"0.0\" /><ARGUMENT TYPE=\"f\" VALUE=\"0.0\" />"
      "<ARGUMENT TYPE=\"f\" VALUE=\"0.0\" /></MESSAGE>"
      "<MESSAGE NAME=\"/tuio/2Dcur\"><ARGUMENT TYPE=\"s\" VALUE=\"alive\" />"
      "<ARGUMENT TYPE=\"i\" VALUE=\"4\" /></MESSAGE>"
      "<MESSAGE NAME=\"/tuio/2Dcur\"><ARGUMENT TYPE=\"s\" VALUE=\"fseq\" />"
      "<ARGUMENT TYPE=\"i\" VALUE=\"12\" /></MESSAGE></OSCPACKET>";
  // Spacing between tags is text to this reader: only inside tags it is fine.
  std::string why;
  EXPECT_FALSE(monitor::ReadTouchDocument(text, &why));
  std::string compact(text);
  compact.erase(compact.find('\n'), 2);
  auto d = monitor::ReadTouchDocument(compact, &why);
  ASSERT_TRUE(d) << why;
  ASSERT_EQ(d->sets.size(), 1u);
  EXPECT_EQ(d->sets[0].id, 4);
  EXPECT_EQ(d->sets[0].y, 0.25f);
  EXPECT_EQ(d->alive, (std::vector<std::int32_t>{4}));
  EXPECT_EQ(d->fseq, 12);
  EXPECT_EQ(monitor::Describe(*d), "#12 alive[4] 4(0.5000, 0.2500)");
}

TEST(XmlReader, RefusesWhatIsNotATouchDocument) {
  const char* open = "<OSCPACKET ADDRESS=\"127.0.0.1\" PORT=\"3000\" TIME=\"1\">";
  const char* fseq =
      "<MESSAGE NAME=\"/tuio/2Dcur\"><ARGUMENT TYPE=\"s\" VALUE=\"fseq\" />"
      "<ARGUMENT TYPE=\"i\" VALUE=\"1\" /></MESSAGE>";
  const std::string good = std::string(open) + fseq + "</OSCPACKET>";
  ASSERT_TRUE(monitor::ReadTouchDocument(good));
  const std::vector<std::string> bad = {
      "",
      std::string(open) + fseq,                    // not closed
      std::string(open) + "</OSCPACKET>",          // no fseq
      std::string(open) + fseq + "</OSCPACKET>x",  // trailing text
      std::string(open) + "<MESSAGE NAME=\"/tuio/2Dobj\"></MESSAGE>" + fseq + "</OSCPACKET>",
      std::string(open) +
          "<MESSAGE NAME=\"/tuio/2Dcur\"><ARGUMENT TYPE=\"s\" VALUE=\"set\" />"
          "<ARGUMENT TYPE=\"i\" VALUE=\"1\" /></MESSAGE>" +
          fseq + "</OSCPACKET>",  // short set
      std::string(open) +
          "<MESSAGE NAME=\"/tuio/2Dcur\"><ARGUMENT TYPE=\"s\" VALUE=\"fseq\" />"
          "<ARGUMENT TYPE=\"i\" VALUE=\"1x\" /></MESSAGE></OSCPACKET>",  // not a number
      std::string(open) + "<MESSAGE NAME=\"/tuio/2Dcur\"><ARGUMENT TYPE=\"s\" VALUE=\"fseq />",
  };
  for (const std::string& text : bad) {
    std::string why;
    EXPECT_FALSE(monitor::ReadTouchDocument(text, &why)) << text;
    EXPECT_FALSE(why.empty()) << text;
  }
}

TEST(CursorPaths, OnePathPerCursorLifeNotPerId) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  monitor::CursorPaths paths;
  paths.Record({CursorEvent::kAdded, 7, 0.1f, 0.2f});
  paths.Record({CursorEvent::kAdded, 8, nan, nan});  // joined late: position not known yet
  paths.Record({CursorEvent::kMoved, 7, 0.3f, 0.2f});
  paths.Record({CursorEvent::kMoved, 7, 0.30001f, 0.2f});  // below the drawing's precision
  paths.Record({CursorEvent::kMoved, 8, 0.9f, 0.9f});
  paths.Record({CursorEvent::kRemoved, 7, 0.3f, 0.2f});
  paths.Record({CursorEvent::kMoved, 7, 0.5f, 0.5f});  // not alive: ignored
  paths.Record({CursorEvent::kAdded, 7, 0.6f, 0.6f});  // the id again, e.g. a restarted service
  const auto& p = paths.Paths();
  ASSERT_EQ(p.size(), 3u);
  EXPECT_EQ(p[0].id, 7);
  ASSERT_EQ(p[0].points.size(), 2u);
  EXPECT_EQ(p[0].points[1].x, 0.3f);
  ASSERT_EQ(p[1].points.size(), 1u);
  EXPECT_EQ(p[1].points[0].x, 0.9f);
  EXPECT_EQ(p[2].id, 7);
  EXPECT_EQ(paths.DrawnCount(), 3u);
  const std::string svg = paths.Svg();
  EXPECT_NE(svg.find("points=\"100.0,200.0 300.0,200.0\""), std::string::npos) << svg;
  EXPECT_EQ(svg.find("no cursors seen"), std::string::npos);
  EXPECT_NE(monitor::CursorPaths().Svg().find("no cursors seen"), std::string::npos);
}

TEST(CursorPaths, ALongPathIsThinnedButKeepsItsEnds) {
  monitor::CursorPaths paths(100);
  paths.Record({CursorEvent::kAdded, 1, 0.0f, 0.5f});
  for (int i = 1; i <= 10001; ++i) paths.Record({CursorEvent::kMoved, 1, float(i) / 10001, 0.5f});
  const auto& pts = paths.Paths()[0].points;
  EXPECT_LE(pts.size(), 100u);
  EXPECT_GE(pts.size(), 40u);
  EXPECT_EQ(pts.front().x, 0.0f);
  EXPECT_EQ(pts.back().x, 1.0f);
  for (std::size_t i = 1; i < pts.size(); ++i) EXPECT_LT(pts[i - 1].x, pts[i].x);
}

}  // namespace
