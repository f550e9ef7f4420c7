// The calibration page's conversation against recording pages and a
// recording frame: the commands it sends equal those of the dialog driven
// directly through the same replies; what each page is told; the rules (one
// calibration at a time, this machine only, a vanished or silent page, a
// lost frame, messages refused).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calibration/CalibrationIds.h"
#include "calibration/WebCalibration.h"
#include "input/DeviceCommands.h"
#include "tests/support/CommandBytes.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

using testsupport::Trimmed;

struct Pages : WebCalibrationPages {
  std::vector<std::pair<std::uint64_t, std::string>> sent;
  std::vector<std::pair<std::uint64_t, std::string>> closed;
  void Send(std::uint64_t c, const std::string& t) override { sent.emplace_back(c, t); }
  void Close(std::uint64_t c, std::uint16_t code, const std::string& why) override {
    EXPECT_EQ(code, WebCalibration::kPolicyViolation);
    closed.emplace_back(c, why);
  }
  // The messages of `type` to `client`, in order.
  std::vector<std::string> Of(std::uint64_t client, const std::string& type) const {
    std::vector<std::string> out;
    for (const auto& [c, t] : sent)
      if (c == client && t.find("\"type\":\"" + type + "\"") != std::string::npos) out.push_back(t);
    return out;
  }
};

struct Frame : WebCalibrationFrame {
  bool split = true, flag = false;
  std::vector<Bytes> sent;
  int releases = 0;
  bool IsOpen() const override { return true; }
  bool IsSplitChannel() const override { return split; }
  std::uint8_t InputReportId() const override { return split ? 0xFC : 0x02; }
  void Send(const std::uint8_t* c) override { sent.push_back(Trimmed(c)); }
  void SetCalibrationValid() override {}
  bool Claim() override { return !flag && (flag = true); }
  void Release() override {
    flag = false;
    ++releases;
  }
};

struct NullView : CalibrationDialogView {
  void EnableControl(int, bool) override {}
  std::string ControlText(int) override { return {}; }
  void SetControlText(int, const std::string&) override {}
  bool IsChecked(int) override { return false; }
  void SetChecked(int, bool) override {}
  void ShowMessage(const std::string&, MessageIcon) override {}
  void FocusAndSelectAll(int) override {}
  void ShowTargetWindow() override {}
  void HideTargetWindow() override {}
  void EndDialog() override {}
};

class Web : public ::testing::Test {
 protected:
  void Open(std::uint64_t client, bool loopback = true) {
    web.Opened(client, loopback, now);
    Tick();
  }
  void Tick() { web.Tick(info, frame.flag, now); }
  Bytes ReplyBytes(Bytes b) const {
    b.insert(b.begin(), frame.InputReportId());
    b.resize(64, 0);
    return b;
  }
  // What the dialog itself sends for the same replies: shown, Calibration
  // clicked once it may be, the replies, then Exit.
  std::vector<Bytes> DialogSends(const std::vector<Bytes>& replies, bool escape = false) {
    Frame f;
    f.split = frame.split;
    NullView view;
    TargetState target;
    CalibrationDialog dialog(view, f, target);
    dialog.SetUp();
    std::size_t i = 0;
    if (!f.split) {
      const Bytes r = ReplyBytes(replies[i++]);
      dialog.HandleCalibrationReply(r.data());
    }
    dialog.StartCalibration();
    for (; i < replies.size(); ++i) {
      const Bytes r = ReplyBytes(replies[i]);
      dialog.HandleCalibrationReply(r.data());
    }
    if (escape) {
      dialog.TargetEscape();
      dialog.TargetCancelled();
    }
    dialog.Cancel();
    return f.sent;
  }

  std::int64_t now = 1000;
  Pages pages;
  Frame frame;
  WebFrameInfo info{true, true, true, 0x3301, "multi-touch", 5.0};
  WebCalibration web{pages, frame};
};

const std::vector<Bytes> kTargets = {{1, 1}, {1, 4}, {1, 3}, {1, 2}, {1, 5}};

TEST_F(Web, ConversationSendsWhatTheDialogSendsAndTellsThePageWhereToDraw) {
  struct Case {
    bool split;
    Bytes verdict;
    const char* text;
  };
  for (const Case& c : {Case{true, {1, 255, 0}, kCalibrationSuccessful},
                        Case{true, {1, 255, 1}, kCalibrationErrorTooLarge},
                        Case{false, {1, 255, 0}, kCalibrationSuccessful}}) {
    SCOPED_TRACE(c.text);
    pages = {};
    frame = {};
    frame.split = info.splitChannel = c.split;
    WebCalibration w(pages, frame);
    w.Opened(7, true, now);
    w.Tick(info, false, now);
    std::vector<Bytes> replies;
    w.Message(7, "calibrate 1920 1080", now);
    if (!c.split) {
      EXPECT_EQ(frame.sent, (std::vector<Bytes>{{0, CMD_GET_RB_PARAMS}}));
      EXPECT_TRUE(pages.Of(7, "calibrating").empty());  // Calibration waits for the settings
      replies.push_back({3, 0xD0, 0x07, 0, 0, 2});
      w.Reply(ReplyBytes(replies.back()).data(), now);
    }
    EXPECT_EQ(pages.Of(7, "calibrating").size(), 1u);
    for (const Bytes& r : kTargets) {
      replies.push_back(r);
      w.Reply(ReplyBytes(r).data(), now);
      if (r[1] <= 4) w.Message(7, "shown " + std::to_string(r[1]), now);
    }
    replies.push_back(c.verdict);
    w.Reply(ReplyBytes(c.verdict).data(), now);
    EXPECT_EQ(frame.sent, DialogSends(replies));
    EXPECT_EQ(frame.releases, 1);
    EXPECT_FALSE(w.Active());
    EXPECT_TRUE(pages.closed.empty());
    // The targets in the frame's order, at the target window's pixels for
    // 1920 by 1080; sub-code 5 takes the target away.
    const std::vector<std::string> t = pages.Of(7, "target");
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[0], R"({"type":"target","index":1,"x":240,"y":135,"cross":38,)"
                    R"("rings":[240,203,166,129,92,55,18]})");
    EXPECT_NE(t[1].find(R"("index":4,"x":240,"y":945)"), std::string::npos);
    EXPECT_NE(t[2].find(R"("index":3,"x":1680,"y":945)"), std::string::npos);
    EXPECT_EQ(t[4], R"({"type":"target","index":0})");
    const std::vector<std::string> r = pages.Of(7, "result");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_NE(r[0].find(c.text), std::string::npos) << r[0];
  }
}

TEST_F(Web, OneCalibrationAtATimeFromThisMachineOnly) {
  Open(1);
  Open(2);
  Open(3, false);
  web.Message(3, "calibrate 800 600", now);
  EXPECT_TRUE(frame.sent.empty());
  EXPECT_NE(pages.Of(3, "error").at(0).find("only be started on this machine"), std::string::npos);
  EXPECT_NE(pages.Of(3, "state").back().find(R"("local":false)"), std::string::npos);

  web.Message(1, "calibrate 800 600", now);
  EXPECT_TRUE(web.Active());
  web.Message(2, "calibrate 800 600", now);
  web.Message(2, "reset", now);
  EXPECT_EQ(frame.sent.size(), 1u);  // the first page's start only
  EXPECT_NE(pages.Of(2, "error").at(0).find("another page"), std::string::npos);
  EXPECT_NE(pages.Of(2, "state").back().find(R"("busy":"page")"), std::string::npos);
  EXPECT_NE(pages.Of(1, "state").back().find(R"("busy":"you")"), std::string::npos);
  web.Message(2, "cancel", now);  // not its calibration
  EXPECT_TRUE(web.Active());

  // Escape: CMD_CANCEL, as the target window sends it; the others are free.
  web.Message(1, "cancel", now);
  EXPECT_EQ(frame.sent, DialogSends({}, true));
  EXPECT_FALSE(web.Active());
  EXPECT_NE(pages.Of(2, "state").back().find(R"("busy":"none")"), std::string::npos);

  // While the dialog holds the flag, every page is told so and refused.
  frame.flag = true;
  Tick();
  EXPECT_NE(pages.Of(2, "state").back().find(R"("busy":"dialog")"), std::string::npos);
  const std::size_t sent = frame.sent.size();
  web.Message(2, "calibrate 800 600", now);
  EXPECT_EQ(frame.sent.size(), sent);
  EXPECT_NE(pages.Of(2, "error").back().find("dialog is open"), std::string::npos);
}

TEST_F(Web, VanishedSilentOrLostEndsTheCalibrationAsEscapeWould) {
  struct Case {
    const char* what;
    bool split;
  };
  for (const Case& c : {Case{"vanished", true}, Case{"silent", false}, Case{"lost", false},
                        Case{"replugged", true}}) {
    SCOPED_TRACE(c.what);
    pages = {};
    frame = {};
    frame.split = info.splitChannel = c.split;
    info.present = true;
    info.since = 5.0;
    WebCalibration w(pages, frame);
    w.Opened(9, true, now);
    w.Tick(info, false, now);
    w.Message(9, "calibrate 1024 768", now);
    std::vector<Bytes> replies;
    if (!c.split) replies.push_back({3, 0xD0, 0x07, 0, 0, 2});
    replies.push_back({1, 2});
    for (const Bytes& r : replies) w.Reply(ReplyBytes(r).data(), now);
    const std::string what = c.what;
    if (what == "vanished") {
      w.Closed(9, now + 10);
    } else if (what == "silent") {
      w.Tick(info, true, now + 1400);
      EXPECT_TRUE(w.Active());  // within 1.5 s of its last word
      w.Tick(info, true, now + 1600);
      EXPECT_EQ(pages.closed.at(0).first, 9u);
    } else {
      const std::size_t before = frame.sent.size();
      info.present = what == "replugged";
      info.since = 6.0;
      w.Tick(info, true, now + 100);
      EXPECT_EQ(frame.sent.size(), before);  // nothing more reaches the frame
      EXPECT_NE(pages.Of(9, "ended").at(0).find(kWebFrameLost), std::string::npos);
    }
    EXPECT_FALSE(w.Active());
    EXPECT_EQ(frame.releases, 1);
    if (what == "vanished" || what == "silent") {
      EXPECT_EQ(frame.sent, DialogSends(replies, true));
    }
  }
}

TEST_F(Web, BadMessagesAreRefusedAndReachNothing) {
  for (const char* bad : {"hello", "calibrate", "calibrate 0 600", "calibrate 800 600 1",
                          "calibrate -8 600", "shown 3", "shown 1", "alive\n", ""}) {
    SCOPED_TRACE(bad);
    pages = {};
    frame = {};
    WebCalibration w(pages, frame);
    w.Opened(4, true, now);
    w.Tick(info, false, now);
    const std::string text = bad;
    if (text.rfind("shown", 0) == 0) {
      w.Message(4, "calibrate 800 600", now);
      w.Reply(ReplyBytes({1, 1}).data(), now);  // the frame named target 1
    }
    const std::size_t sent = frame.sent.size();
    w.Message(4, text, now);
    if (text == "shown 1") {
      EXPECT_TRUE(pages.closed.empty());  // the one the frame named
      continue;
    }
    ASSERT_EQ(pages.closed.size(), 1u);
    EXPECT_EQ(pages.Of(4, "error").size(), 1u);
    EXPECT_FALSE(w.Active());
    // A refused page that held the calibration leaves it as Escape does.
    EXPECT_EQ(frame.sent.size(), sent + (sent ? 1 : 0));
  }
  // A flood: the 21st message within a second closes the page.
  pages = {};
  Open(5);
  for (int i = 0; i < 21; ++i) web.Message(5, "alive", now + i);
  EXPECT_EQ(pages.closed,
            (std::vector<std::pair<std::uint64_t, std::string>>{{5, "too many messages"}}));
}

TEST_F(Web, ResetIsTheDialogsResetForSplitChannelFramesOnly) {
  Open(1);
  web.Message(1, "reset", now);
  EXPECT_EQ(frame.sent, (std::vector<Bytes>{{0, CMD_CALIBRATION, CAL_RESET}}));
  EXPECT_EQ(frame.releases, 1);
  EXPECT_EQ(pages.Of(1, "reset").size(), 1u);
  info.splitChannel = frame.split = false;
  Tick();
  web.Message(1, "reset", now);
  EXPECT_EQ(frame.sent.size(), 1u);
  EXPECT_NE(pages.Of(1, "error").at(0).find("split-channel"), std::string::npos);
  info.calibratable = false;  // a Series01xx frame
  Tick();
  web.Message(1, "calibrate 800 600", now);
  EXPECT_EQ(frame.sent.size(), 1u);
}

}  // namespace
