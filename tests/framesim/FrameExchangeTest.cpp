// The simulated frame's side of each exchange, byte for byte.
#include <gtest/gtest.h>

#include "tools/framesim/Frame.h"

using namespace framesim;

namespace {

Frame Make(const std::string& model, const std::string& name = "f") {
  return Frame(*FindModel(model), name);
}

std::vector<Emission> Send(Frame& f, std::vector<std::uint8_t> bytes, int col = -1) {
  bytes.resize(64);
  std::vector<Emission> out;
  f.OnOutputReport(col < 0 ? CommandCollection(f.Model()) : col, bytes.data(), 64, out);
  return out;
}

std::vector<std::uint8_t> Head(const Report& r, std::size_t n) {
  return std::vector<std::uint8_t>(r.begin(), r.begin() + n);
}

std::vector<Emission> Touch(Frame& f, std::vector<Contact> contacts) {
  std::vector<Emission> out;
  std::string error;
  EXPECT_TRUE(f.EncodeTouch(contacts, out, error)) << error;
  return out;
}

}  // namespace

TEST(FramePaths, CollectionsAndInstanceNumbersPerClass) {
  Frame split = Make("split-mt", "a");
  std::vector<int> cols;
  for (const Collection& c : CollectionsOf(split.Model())) cols.push_back(c.number);
  EXPECT_EQ(cols, (std::vector<int>{1, 3, 4, 5}));
  const std::string reply = split.Path(3);
  EXPECT_EQ(reply, "\\\\?\\hid#vid_3d5e&pid_0021&col03#" + split.Instance() +
                       "&0002#{4d1e55b2-f16f-11cf-88cb-001111000030}");
  // The touch and auxiliary paths follow from the reply path by text replacement.
  auto replaced = [&](std::string p, const std::string& col, const std::string& inst) {
    p.replace(p.find("col03"), 5, col);
    p.replace(p.find("0002"), 4, inst);
    return p;
  };
  EXPECT_EQ(split.Path(4), replaced(reply, "col04", "0003"));
  EXPECT_EQ(split.Path(5), replaced(reply, "col05", "0004"));
  EXPECT_EQ(split.Path(1).find("col01#" + split.Instance() + "&0000#") != std::string::npos, true);

  EXPECT_EQ(CollectionsOf(Make("single-b").Model()).size(), 2u);
  ASSERT_EQ(CollectionsOf(Make("series").Model()).size(), 1u);
  EXPECT_EQ(CollectionsOf(Make("series").Model())[0].number, 1);
  Frame one = Make("f0fc", "b");
  EXPECT_EQ(one.Path(0), "\\\\?\\hid#vid_3d5e&pid_f0fc#" + one.Instance() +
                             "&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}");
  // Every frame name gives an instance part without a zero in its hash.
  for (const char* name : {"a", "b", "split-mt", "x1", "frame-with-a-long-name"})
    EXPECT_EQ(InstanceFor(name).substr(2, 7).find('0'), std::string::npos) << name;
}

TEST(FrameClasses, LayoutAndReportIdsFollowTheVersion) {
  struct Row {
    std::uint16_t pid, version;
    Layout layout;
    std::uint8_t touchId, replyId, commandId;
  } rows[] = {
      {0x0021, 0x3301, Layout::kMT, 0xFB, 0xFC, 0xFC},
      {0x0021, 0x4300, Layout::kMT, 0xFB, 0xFC, 0xFC},
      {0x0021, 0x4013, Layout::kC, 0xFB, 0xFC, 0xFC},
      {0x0021, 0x7000, Layout::kC, 0xFC, 0xFC, 0xFC},
      {0x0021, 0x3105, Layout::kB, 0xFB, 0xFC, 0xFC},
      {0x0021, 0x2101, Layout::kB, 0xFC, 0xFC, 0xFC},
      {0x0021, 0x2100, Layout::kA, 0x02, 0x02, 0x02},
      {0x0021, 0x3001, Layout::kA, 0xFC, 0xFC, 0xFC},
      {0x0113, 0x3301, Layout::kF, 0xFD, 0xFD, 0xFE},
  };
  for (const Row& r : rows) {
    FrameModel m = *FindModel("split-mt");
    m.productId = r.pid;
    m.versionNumber = r.version;
    SCOPED_TRACE(r.version);
    EXPECT_EQ(LayoutOf(m), r.layout);
    EXPECT_EQ(TouchReportId(m), r.touchId);
    EXPECT_EQ(ReplyReportId(m), r.replyId);
    EXPECT_EQ(CommandReportId(m), r.commandId);
  }
  // The layout setting takes a layout's name as listings print it; "auto"
  // gives the version's back, and "none" is no touch frame's layout.
  FrameModel m = *FindModel("single-b");
  std::string error;
  for (const char* name : {"A", "B", "C", "F", "MT"}) {
    ASSERT_TRUE(ApplySetting(m, "layout", name, error)) << error;
    EXPECT_STREQ(LayoutName(LayoutOf(m)), name);
  }
  ASSERT_TRUE(ApplySetting(m, "layout", "auto", error)) << error;
  EXPECT_EQ(LayoutOf(m), LayoutOf(*FindModel("single-b")));
  for (const char* bad : {"none", "mt", ""})
    EXPECT_FALSE(ApplySetting(m, "layout", bad, error)) << bad;
}

TEST(FrameCommands, CalibrationReadBackCarriesValidByteAndTwelveWords) {
  Frame f = Make("single-b");
  auto out = Send(f, {0xFC, 0x05});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].collection, 3);
  EXPECT_EQ(Head(out[0].report, 7),
            (std::vector<std::uint8_t>{0xFC, 5, 1, 0x00, 0x02, 0x00, 0x02}));
  EXPECT_EQ(out[0].report[25] | out[0].report[26] << 8, 3602);  // the last measured y
  EXPECT_EQ(out[0].report[27], 0);
  // A frame with report id 0x02 answers with 0x02 and ignores 0xFC commands.
  Frame a = Make("single-a");
  EXPECT_TRUE(Send(a, {0xFC, 0x05}).empty());
  ASSERT_EQ(Send(a, {0x02, 0x05}).size(), 1u);
  EXPECT_EQ(Send(a, {0x02, 0x05})[0].report[0], 0x02);
  // Commands only count on the command collection.
  EXPECT_TRUE(Send(f, {0xFC, 0x05}, 1).empty());
}

TEST(FrameCommands, SeriesModeQueryWriteEchoAndDetail) {
  Frame s = Make("series");
  auto q = Send(s, {0xFE, 0x0C});
  ASSERT_EQ(q.size(), 1u);
  EXPECT_EQ(Head(q[0].report, 9), (std::vector<std::uint8_t>{0xFD, 0x0C, 1, 2, 3, 0, 4, 5, 0}));
  auto w = Send(s, {0xFE, 0x08, 9, 3, 0, 1, 0, 0x77});
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(Head(w[0].report, 8), (std::vector<std::uint8_t>{0xFD, 0x08, 9, 3, 0, 1, 0, 0}));
  EXPECT_FALSE(s.MouseMode());
  EXPECT_EQ(Head(Send(s, {0xFE, 0x0C})[0].report, 8),
            (std::vector<std::uint8_t>{0xFD, 0x0C, 9, 3, 0, 1, 0, 5}));
  // Version 0x0200 keeps m3 and m4 on a mode write.
  Frame old = Make("series-0200");
  Send(old, {0xFE, 0x08, 7, 7, 7, 7, 7});
  EXPECT_EQ(Head(Send(old, {0xFE, 0x0C})[0].report, 8),
            (std::vector<std::uint8_t>{0xFD, 0x0C, 7, 7, 7, 0, 4, 5}));
  EXPECT_EQ(Head(Send(s, {0xFE, 0x0D})[0].report, 7),
            (std::vector<std::uint8_t>{0xFD, 0x0D, 0, 0, 0, 0x02, 0x01}));
  EXPECT_EQ(Head(Send(s, {0xFE, 0x0E})[0].report, 9),
            (std::vector<std::uint8_t>{0xFD, 0x0E, 0, 0, 0, 0x06, 0x05, 0x04, 0x03}));
}

TEST(FrameCommands, DetailMaxPointsAndStatus) {
  Frame split = Make("split-mt");  // detail {0x12345, 0x0203, 0x0405, 0x0ABC, 0x11}
  auto d = Send(split, {0xFC, 0xA3, 0x00});
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(Head(d[0].report, 18),
            (std::vector<std::uint8_t>{0xFC, 0xA3, 0x80, 0, 0, 0x03, 0x02, 0, 0x45, 0x23, 0x01,
                                       0x00, 0x05, 0x04, 0xC0, 0xAB, 0x00, 0x11}));
  Frame single = Make("single-b");  // 0x2105: 24-bit value at 5..7, word at 9..10
  auto s = Send(single, {0xFC, 0xA3, 0x00});
  EXPECT_EQ(Head(s[0].report, 11),
            (std::vector<std::uint8_t>{0xFC, 0xA3, 0x80, 0, 0, 0x21, 0x43, 0x65, 0, 0x0B, 0x0A}));
  auto m = Send(split, {0xFC, 0x08});
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(Head(m[0].report, 6), (std::vector<std::uint8_t>{0xFC, 0x08, 0x02, 0x01, 0, 10}));
  EXPECT_TRUE(Send(single, {0xFC, 0x08}).empty());  // no point count to tell

  // Touch output: switched on frames that have the switch, ignored on others.
  Send(split, {0xFC, 0x30, 1, 1, 0, 0});
  EXPECT_FALSE(split.TouchOutput());
  EXPECT_TRUE(Touch(split, {{0, 0.5, 0.5, Phase::kDown}}).empty());
  Send(split, {0xFC, 0x30, 1, 1, 0, 1});
  EXPECT_EQ(Touch(split, {{0, 0.5, 0.5, Phase::kMove}}).size(), 1u);
  EXPECT_TRUE(Send(split, {0xFC, 0x06, 0, 0}).empty());  // no reply expected, none sent
  // Firmware that acknowledges them answers [id, code] on the command collection.
  FrameModel acking = split.Model();
  acking.acknowledges = true;
  Frame ack(acking, "ack");
  for (std::uint8_t code : {0x06, 0x30, 0x10}) {
    auto out = Send(ack, {0xFC, code, 1, 1, 0, 1});
    ASSERT_EQ(out.size(), 1u) << int(code);
    EXPECT_EQ(out[0].collection, 3);
    EXPECT_EQ(Head(out[0].report, 3), (std::vector<std::uint8_t>{0xFC, code, 0}));
  }
  Frame a = Make("single-a");
  Send(a, {0x02, 0x30, 1, 1, 0, 0});
  EXPECT_TRUE(a.TouchOutput());
  Send(a, {0x02, 0x06, 0, 0});
  EXPECT_FALSE(a.MouseMode());
}

TEST(FrameCommands, RightButtonParameters) {
  Frame f = Make("single-b");
  auto get = [&] { return Head(Send(f, {0xFC, 0x03})[0].report, 10); };
  EXPECT_EQ(get(), (std::vector<std::uint8_t>{0xFC, 3, 0xD0, 0x07, 0, 0, 2, 0, 0, 0}));
  EXPECT_EQ(Head(Send(f, {0xFC, 0x02, 0x10, 0x27, 0, 0, 50})[0].report, 3),
            (std::vector<std::uint8_t>{0xFC, 2, 0}));
  EXPECT_EQ(Head(Send(f, {0xFC, 0x04, 1, 1})[0].report, 2), (std::vector<std::uint8_t>{0xFC, 4}));
  EXPECT_EQ(get(), (std::vector<std::uint8_t>{0xFC, 3, 0x10, 0x27, 0, 0, 50, 0, 1, 1}));
}

TEST(FrameCalibration, WholeConversationInTheFramesOrder) {
  FrameModel m = *FindModel("single-a");
  m.targetOrder[0] = 1, m.targetOrder[1] = 4, m.targetOrder[2] = 3, m.targetOrder[3] = 2;
  m.verdict = 1;
  m.targetDelayMs = 300;
  Frame f(m, "cal");
  auto step = [&](std::vector<std::uint8_t> cmd) {
    auto out = Send(f, cmd);
    return out.empty() ? std::vector<std::uint8_t>{} : Head(out[0].report, 4);
  };
  auto ack = [](int n) {
    std::uint8_t x, y;
    TargetPosition(n, x, y);
    return std::vector<std::uint8_t>{0x02, 1, static_cast<std::uint8_t>(n), 0, x, 0, 0, 0, y};
  };
  auto out = Send(f, {0x02, 1, 0});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].delayMs, 300u);
  EXPECT_EQ(Head(out[0].report, 3), (std::vector<std::uint8_t>{0x02, 1, 1}));
  EXPECT_TRUE(f.Calibrating());
  EXPECT_TRUE(Touch(f, {{0, 0.5, 0.5, Phase::kDown}}).empty());  // no touch while calibrating
  EXPECT_TRUE(step(ack(2)).empty());                             // not the named target
  EXPECT_TRUE(step({0x02, 1, 1, 0, 14, 0, 0, 0, 2}).empty());    // wrong position
  EXPECT_EQ(step(ack(1)), (std::vector<std::uint8_t>{0x02, 1, 4, 0}));
  EXPECT_EQ(step(ack(4)), (std::vector<std::uint8_t>{0x02, 1, 3, 0}));
  EXPECT_EQ(step(ack(3)), (std::vector<std::uint8_t>{0x02, 1, 2, 0}));
  EXPECT_EQ(step(ack(2)), (std::vector<std::uint8_t>{0x02, 1, 5, 0}));
  EXPECT_EQ(step({0x02, 1, 5}), (std::vector<std::uint8_t>{0x02, 1, 255, 1}));
  EXPECT_FALSE(f.Calibrating());
  EXPECT_EQ(f.CalibrationValid(), 1);
  EXPECT_EQ(f.Calibration()[6], 524);  // the measured points changed
  // Leave, reset and cancel end a calibration without a reply.
  Send(f, {0x02, 1, 0});
  EXPECT_TRUE(Send(f, {0x02, 0x10}).empty());
  EXPECT_FALSE(f.Calibrating());
  Send(f, {0x02, 1, 0});
  EXPECT_TRUE(Send(f, {0x02, 1, 255}).empty());
  EXPECT_FALSE(f.Calibrating());
  Send(f, {0x02, 1, 6});
  EXPECT_EQ(f.Calibration()[6], 530);  // factory block again
}

TEST(FrameCalibration, NoVerdictEndsWithSubCode16) {
  FrameModel m = *FindModel("split-2pt");
  m.verdict = -1;
  Frame f(m, "x");
  Send(f, {0xFC, 1, 0});
  for (int n = 1; n <= 4; ++n) {
    std::uint8_t x, y;
    TargetPosition(n, x, y);
    Send(f, {0xFC, 1, static_cast<std::uint8_t>(n), 0, x, 0, 0, 0, y});
  }
  auto out = Send(f, {0xFC, 1, 5});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(Head(out[0].report, 4), (std::vector<std::uint8_t>{0xFC, 1, 16, 0}));
}

TEST(FrameTouch, SlotLayoutsABC) {
  Frame a = Make("single-a");
  auto r = Touch(a, {{0, 1.0, 0.5, Phase::kDown}, {1, 0.0, 0.0, Phase::kDown}});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].collection, 3);
  EXPECT_EQ(Head(r[0].report, 13),
            (std::vector<std::uint8_t>{0x02, 1, 0xFF, 0x0F, 0x00, 0x08, 0, 0, 1, 0, 0, 0, 0}));
  r = Touch(a, {{0, 1.0, 0.5, Phase::kUp}});
  EXPECT_EQ(Head(r[0].report, 9),
            (std::vector<std::uint8_t>{0x02, 0, 0xFF, 0x0F, 0x00, 0x08, 0, 0, 0}));

  Frame b = Make("split-2pt");
  r = Touch(b, {{1, 0.25, 0.75, Phase::kMove}});
  EXPECT_EQ(r[0].collection, 4);
  EXPECT_EQ(Head(r[0].report, 15), (std::vector<std::uint8_t>{0xFB, 0xC1, 1, 0, 0, 0, 0, 0, 0, 0, 1,
                                                              0x00, 0x04, 0xFF, 0x0B}));
  Frame c = Make("split-4pt");
  r = Touch(c, {{3, 0.5, 0.5, Phase::kDown}});
  EXPECT_EQ(r[0].report[24], 1);
  EXPECT_EQ(r[0].report[25] | r[0].report[26] << 8, 2048);
  std::vector<Emission> out;
  std::string error;
  EXPECT_FALSE(b.EncodeTouch({{2, 0.5, 0.5, Phase::kDown}}, out, error));
  EXPECT_NE(error.find("contact 2"), std::string::npos);
}

TEST(FrameTouch, SeriesLayoutEventsAndContactNumbers) {
  Frame s = Make("series");
  auto r = Touch(s, {{1, 0.5, 1.0, Phase::kDown}});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].collection, 1);
  EXPECT_EQ(Head(r[0].report, 15),
            (std::vector<std::uint8_t>{0xFD, 0x01, 0, 2, 0xFC, 0x3F, 0xF8, 0x7F, 0, 0, 0xFC, 0x3F,
                                       0xF8, 0x7F, 1}));
  r = Touch(s, {{0, 0, 0, Phase::kMove}, {1, 0, 0, Phase::kUp}});
  EXPECT_EQ(r[0].report[2], 7);
  EXPECT_EQ(r[0].report[3], 1);
  EXPECT_EQ(r[0].report[8], 4);
  EXPECT_EQ(r[0].report[14], 2);
}

TEST(FrameTouch, ContactTableSplitsSevenOrMoreIntoTwoReports) {
  Frame f = Make("split-mt");
  std::vector<Contact> nine;
  for (int i = 0; i < 9; ++i)
    nine.push_back({i, i / 10.0, 0.5, i == 4 ? Phase::kMove : Phase::kDown});
  auto r = Touch(f, nine);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].report[0], 0xFB);
  EXPECT_EQ(r[0].report[2], 0);  // the first report has contact 0 in slot 0
  EXPECT_EQ(r[0].report[37], 9);
  EXPECT_EQ(r[0].report[1 + 6 * 4], 3);  // moving: status 3
  EXPECT_EQ(r[0].report[1 + 6 * 5], 2);  // down: status 2
  EXPECT_EQ(r[1].report[2], 6);
  EXPECT_EQ(r[1].report[2 + 6 * 2], 8);
  EXPECT_EQ(r[1].report[1 + 6 * 3], 0);  // slots past the frame's contacts stay empty
  EXPECT_EQ(r[1].report[37], 9);
  r = Touch(f, {{5, 1.0, 0.0, Phase::kUp}});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(Head(r[0].report, 7), (std::vector<std::uint8_t>{0xFB, 2, 5, 0xF8, 0x7F, 0, 0}));
  EXPECT_EQ(r[0].report[37], 1);
  std::vector<Emission> out;
  std::string error;
  std::vector<Contact> noZero;
  for (int i = 1; i <= 7; ++i) noZero.push_back({i, 0.5, 0.5, Phase::kMove});
  EXPECT_FALSE(f.EncodeTouch(noZero, out, error));
  // The mouse has no touch and answers nothing.
  Frame mouse = Make("mouse");
  EXPECT_FALSE(mouse.EncodeTouch({{0, 0.5, 0.5, Phase::kDown}}, out, error));
  EXPECT_TRUE(Send(mouse, {0xFC, 0x05}, 0).empty());
}
