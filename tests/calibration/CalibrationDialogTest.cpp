// The calibration dialog's behaviour against a recording view and frame:
// each reply in, the exact command bytes out and the state after; the busy
// state; the right-button settings; Reset and the cancel operation per kind
// of frame.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "calibration/CalibrationDialog.h"
#include "calibration/CalibrationIds.h"
#include "input/DeviceCommands.h"
#include "tests/support/CommandBytes.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

using testsupport::Trimmed;

class RecordingView : public CalibrationDialogView {
 public:
  std::map<int, bool> enabled;
  std::vector<int> enableOrder;
  std::map<int, std::string> text;
  std::map<int, bool> checked;
  std::vector<std::pair<std::string, MessageIcon>> messages;
  int focused = 0;
  bool targetVisible = false, ended = false;

  void EnableControl(int id, bool on) override {
    enabled[id] = on;
    enableOrder.push_back(id);
  }
  std::string ControlText(int id) override { return text[id]; }
  void SetControlText(int id, const std::string& t) override { text[id] = t; }
  bool IsChecked(int id) override { return checked[id]; }
  void SetChecked(int id, bool c) override { checked[id] = c; }
  void ShowMessage(const std::string& t, MessageIcon icon) override {
    messages.emplace_back(t, icon);
  }
  void FocusAndSelectAll(int id) override { focused = id; }
  void ShowTargetWindow() override { targetVisible = true; }
  void HideTargetWindow() override { targetVisible = false; }
  void EndDialog() override { ended = true; }
};

class RecordingFrame : public CalibrationFrame {
 public:
  bool open = true, split = false;
  std::uint8_t reportId = 0x02;
  std::vector<Bytes> sent;
  bool valid = false;

  bool IsOpen() const override { return open; }
  bool IsSplitChannel() const override { return split; }
  std::uint8_t InputReportId() const override { return reportId; }
  void Send(const std::uint8_t* c) override { sent.push_back(Trimmed(c)); }
  void SetCalibrationValid() override { valid = true; }
};

class Dialog : public ::testing::Test {
 protected:
  void Reply(Bytes bytes) {
    bytes.insert(bytes.begin(), frame.reportId);
    bytes.resize(64, 0);
    dialog.HandleCalibrationReply(bytes.data());
  }
  bool Busy() { return !view.enabled[IDC_CALIBRATION]; }

  RecordingView view;
  RecordingFrame frame;
  TargetState target;
  CalibrationDialog dialog{view, frame, target};
};

TEST_F(Dialog, SetUpFillsDefaultsAndAsksASingleChannelFrame) {
  dialog.SetUp();
  EXPECT_EQ(view.text[IDC_RB_TIME], "2000");
  EXPECT_EQ(view.text[IDC_RB_RANGE], "2");
  EXPECT_EQ(frame.sent, (std::vector<Bytes>{{0, CMD_GET_RB_PARAMS}}));
  EXPECT_TRUE(Busy());
  // The set-up's SetBusy(false) then the request's SetBusy(true), each in
  // the dialog's order.
  const std::vector<int> order = {307, 308, 303, 306, 302, 305, 315, 301, 312, 314, 304};
  std::vector<int> twice = order;
  twice.insert(twice.end(), order.begin(), order.end());
  EXPECT_EQ(view.enableOrder, twice);
}

TEST_F(Dialog, SetUpWithoutAFrameLeavesCalibrationDisabled) {
  frame.open = false;
  dialog.SetUp();
  EXPECT_TRUE(view.enabled.empty());
  EXPECT_TRUE(frame.sent.empty());
  frame.open = true;
  frame.split = true;
  dialog.SetUp();
  EXPECT_TRUE(frame.sent.empty());  // split-channel frames carry no settings
  EXPECT_FALSE(Busy());
}

TEST_F(Dialog, BusyNeverEnablesTheSelectorOrTheSecondSwitch) {
  dialog.SetBusy(false);
  EXPECT_FALSE(view.enabled[IDC_SELECTOR]);
  EXPECT_FALSE(view.enabled[IDC_SECOND_SWITCH]);
  for (int id : {IDC_ABOUT, IDC_EXIT, IDC_RESET}) EXPECT_EQ(view.enabled.count(id), 0u) << id;
}

TEST_F(Dialog, WholeConversation) {
  struct Row {
    Bytes reply;  // after the report id
    Bytes command;
    int targetIndex, running;
  };
  dialog.StartCalibration();
  EXPECT_TRUE(view.targetVisible);
  EXPECT_TRUE(Busy());
  ASSERT_EQ(frame.sent, (std::vector<Bytes>{{0, CMD_CALIBRATION}}));
  const Row rows[] = {
      {{1, 3}, {0, 1, 3, 0, 14, 0, 0, 0, 14}, 3, 1},
      {{1, 1}, {0, 1, 1, 0, 2, 0, 0, 0, 2}, 1, 1},
      {{1, 4}, {0, 1, 4, 0, 2, 0, 0, 0, 14}, 4, 1},
      {{1, 2}, {0, 1, 2, 0, 14, 0, 0, 0, 2}, 2, 1},
      {{1, 7}, {}, 2, 1},
      {{1, 5}, {0, 1, 5}, 0, 1},
  };
  for (const Row& row : rows) {
    frame.sent.clear();
    Reply(row.reply);
    EXPECT_EQ(frame.sent,
              row.command.empty() ? std::vector<Bytes>{} : std::vector<Bytes>{row.command})
        << int(row.reply[1]);
    EXPECT_EQ(target.targetIndex, row.targetIndex);
    EXPECT_EQ(target.calibrationRunning, row.running);
  }
  frame.sent.clear();
  Reply({1, 255, 0});
  EXPECT_TRUE(frame.sent.empty());
  EXPECT_EQ(target.calibrationRunning, 0);
  EXPECT_FALSE(view.targetVisible);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].first, "Calibration successful.");
  EXPECT_EQ(view.messages[0].second, MessageIcon::kInformation);
  EXPECT_TRUE(frame.valid);
  EXPECT_FALSE(Busy());
  // Over: target replies are ignored now.
  Reply({1, 2});
  EXPECT_TRUE(frame.sent.empty());
}

TEST_F(Dialog, VerdictTooLargeStillSetsTheFlag) {
  dialog.StartCalibration();
  Reply({1, 255, 1});
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].first,
            "Calibration error is too large.We recommend calibrate it again.");
  EXPECT_TRUE(frame.valid);
}

// The display-mode failure is said once per calibration, however often the
// target is painted.
TEST_F(Dialog, DisplayFailureIsReportedOncePerCalibration) {
  for (int run = 0; run < 2; ++run) {
    dialog.StartCalibration();
    EXPECT_TRUE(TakeDisplayFailureReport(target)) << run;
    EXPECT_FALSE(TakeDisplayFailureReport(target)) << run;
  }
}

TEST_F(Dialog, NoResultLeavesTheTargetUpAndEscapeCancels) {
  dialog.StartCalibration();
  Reply({1, 2});
  Reply({1, 16});
  EXPECT_EQ(target.calibrationRunning, 0);
  EXPECT_TRUE(view.targetVisible);
  EXPECT_FALSE(Busy());
  EXPECT_TRUE(view.messages.empty());
  frame.sent.clear();
  dialog.TargetEscape();
  dialog.TargetCancelled();
  EXPECT_EQ(frame.sent, (std::vector<Bytes>{{0, CMD_CANCEL}}));
  EXPECT_FALSE(view.targetVisible);
  EXPECT_EQ(target.targetIndex, 0);
}

TEST_F(Dialog, RepliesOfAnotherIdOrTypeAreIgnored) {
  dialog.StartCalibration();
  frame.sent.clear();
  Bytes other = {0xFC, 1, 1};
  other.resize(64);
  dialog.HandleCalibrationReply(other.data());
  Reply({9, 1});
  EXPECT_TRUE(frame.sent.empty());
  EXPECT_EQ(target.targetIndex, 0);
  EXPECT_TRUE(Busy());
}

TEST_F(Dialog, SettingsReplyFillsTheControls) {
  dialog.SetUp();
  Reply({3, 0xD0, 0x07, 0, 0, 2, 0xEE, 1, 0});
  EXPECT_EQ(view.text[IDC_RB_TIME], "2000");
  EXPECT_EQ(view.text[IDC_RB_RANGE], "2");
  EXPECT_TRUE(view.checked[IDC_RIGHT_BUTTON]);
  EXPECT_FALSE(view.checked[IDC_SECOND_SWITCH]);
  EXPECT_FALSE(Busy());
  // The time is a signed 32-bit value.
  Reply({3, 0xFF, 0xFF, 0xFF, 0xFF, 50, 0, 0, 7});
  EXPECT_EQ(view.text[IDC_RB_TIME], "-1");
  EXPECT_TRUE(view.checked[IDC_SECOND_SWITCH]);
}

TEST_F(Dialog, OkChecksBothFieldsBeforeSending) {
  view.text[IDC_RB_TIME] = " 2000ms";
  view.text[IDC_RB_RANGE] = "50";
  dialog.ApplyRbParameters();
  EXPECT_EQ(view.text[IDC_RB_TIME], "2000");
  EXPECT_EQ(frame.sent, (std::vector<Bytes>{{0, CMD_SET_RB_PARAMS, 0xD0, 0x07, 0, 0, 50}}));
  EXPECT_TRUE(Busy());
  Reply({2});
  EXPECT_FALSE(Busy());

  frame.sent.clear();
  view.text[IDC_RB_TIME] = "499";
  view.text[IDC_RB_RANGE] = "abc";  // not looked at
  dialog.ApplyRbParameters();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].first, "Please input a number from500to10000.");
  EXPECT_EQ(view.messages[0].second, MessageIcon::kExclamation);
  EXPECT_EQ(view.focused, IDC_RB_TIME);
  EXPECT_TRUE(frame.sent.empty());

  view.text[IDC_RB_TIME] = "10000";
  view.text[IDC_RB_RANGE] = "";
  dialog.ApplyRbParameters();
  EXPECT_EQ(view.messages.back().first, "Please input a number.");
  EXPECT_EQ(view.focused, IDC_RB_RANGE);
  EXPECT_TRUE(frame.sent.empty());
}

TEST_F(Dialog, SwitchesSendTheirStates) {
  view.checked[IDC_SECOND_SWITCH] = true;
  dialog.ApplyRbSwitches();
  EXPECT_EQ(frame.sent, (std::vector<Bytes>{{0, CMD_SET_RB_SWITCHES, 0, 1}}));
  EXPECT_TRUE(Busy());
  Reply({4});
  EXPECT_FALSE(Busy());
}

TEST_F(Dialog, ResetAndCancelPerKindOfFrame) {
  dialog.Reset();
  EXPECT_EQ(frame.sent, (std::vector<Bytes>{{0, CMD_CANCEL}, {0, CMD_GET_RB_PARAMS}}));
  EXPECT_TRUE(Busy());
  frame.sent.clear();
  dialog.Cancel();
  EXPECT_EQ(frame.sent, (std::vector<Bytes>{{0, CMD_CALIBRATION, 255}}));
  EXPECT_TRUE(view.ended);

  frame.split = true;
  frame.sent.clear();
  view.ended = false;
  dialog.Reset();
  EXPECT_EQ(frame.sent, (std::vector<Bytes>{{0, CMD_CALIBRATION, 6}}));
  frame.sent.clear();
  dialog.Cancel();
  EXPECT_TRUE(frame.sent.empty());
  EXPECT_TRUE(view.ended);
}

}  // namespace
