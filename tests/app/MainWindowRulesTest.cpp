#include <gtest/gtest.h>

#include <string>

#include "app/MainWindowRules.h"

namespace {

DeviceProfile Frame(std::uint16_t version, bool series = false) {
  DeviceProfile p;
  p.VendorID = 0x3D5E;
  p.VersionNumber = version;
  p.Series01xx = series;
  return p;
}

struct LayoutCase {
  DeviceProfile profile;
  int width;
  bool calibrationShown, mouseShown;
  PixelRect calibration, mouse, about;
};

TEST(MainWindowLayout, PixelsPerDeviceClass) {
  const PixelRect narrowLeft{10, 10, 88, 40}, narrowAbout{106, 10, 78, 40};
  const LayoutCase cases[] = {
      {Frame(0x0201, true), 198, false, true, narrowLeft, narrowLeft, narrowAbout},
      // Series01xx wins over the version ranges.
      {Frame(0x3105, true), 198, false, true, narrowLeft, narrowLeft, narrowAbout},
      {Frame(0x3105), 198, true, false, narrowLeft, narrowLeft, narrowAbout},
      {Frame(0x3002), 198, true, false, narrowLeft, narrowLeft, narrowAbout},
      {Frame(0x4105), 198, true, false, narrowLeft, narrowLeft, narrowAbout},
      {Frame(0x42FF), 198, true, false, narrowLeft, narrowLeft, narrowAbout},
      // Multi-touch and everything outside the two ranges: both buttons.
      {Frame(0x3301), 285, true, true, {10, 10, 78, 40}, {98, 10, 88, 40}, {196, 10, 76, 40}},
      {Frame(0x4305), 285, true, true, {10, 10, 78, 40}, {98, 10, 88, 40}, {196, 10, 76, 40}},
      {Frame(0x5105), 285, true, true, {10, 10, 78, 40}, {98, 10, 88, 40}, {196, 10, 76, 40}},
      {Frame(0x3001), 285, true, true, {10, 10, 78, 40}, {98, 10, 88, 40}, {196, 10, 76, 40}},
      {Frame(0x2105), 285, true, true, {10, 10, 78, 40}, {98, 10, 88, 40}, {196, 10, 76, 40}},
      {DeviceProfile{}, 285, true, true, {10, 10, 78, 40}, {98, 10, 88, 40}, {196, 10, 76, 40}},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << "version 0x" << c.profile.VersionNumber
                                    << (c.profile.Series01xx ? " Series01xx" : ""));
    const MainWindowLayout l = LayoutForDevice(c.profile);
    EXPECT_EQ(l.width, c.width);
    EXPECT_EQ(l.height, 100);
    EXPECT_EQ(l.calibration.shown, c.calibrationShown);
    EXPECT_EQ(l.mouse.shown, c.mouseShown);
    EXPECT_TRUE(l.about.shown);
    if (c.calibrationShown) {
      EXPECT_EQ(l.calibration.rect, c.calibration);
    }
    if (c.mouseShown) {
      EXPECT_EQ(l.mouse.rect, c.mouse);
    }
    EXPECT_EQ(l.about.rect, c.about);
  }
}

TEST(TrayCallback, OnlyOurIconAndTwoMouseMessagesAct) {
  EXPECT_EQ(TrayCallbackAction(127, 0x205), TrayAction::kNotOurs);
  EXPECT_EQ(TrayCallbackAction(128, 0x203), TrayAction::kShowWindow);
  EXPECT_EQ(TrayCallbackAction(128, 0x205), TrayAction::kOpenMenu);
  for (unsigned m : {0x200u, 0x201u, 0x202u, 0x204u, 0x206u})
    EXPECT_EQ(TrayCallbackAction(128, m), TrayAction::kNone) << m;
}

// Each step: an add's result at a time; what the keeper says, and the
// attempts so far. A round restarts the clock and the count.
TEST(TrayIconKeeper, RetriesAFailedAddForTenSecondsPerRound) {
  using Next = TrayIconKeeper::Next;
  struct Step {
    bool begin;
    std::uint64_t at;
    bool added;
    Next next;
    unsigned attempts;
  };
  const Step steps[] = {
      {true, 1000, true, Next::kShown, 1},     // the usual start-up
      {true, 5000, false, Next::kRetry, 1},    // log-on: the shell not ready
      {false, 5500, false, Next::kRetry, 2},   //
      {false, 14999, false, Next::kRetry, 3},  // still inside the window
      {false, 15000, false, Next::kGiveUp, 4},
      {true, 60000, false, Next::kRetry, 1},  // "TaskbarCreated": a new round
      {false, 60500, true, Next::kShown, 2},
      {true, ~0ull - 100, false, Next::kRetry, 1},  // the clock wraps inside a round
      {false, 9899, false, Next::kGiveUp, 2},
  };
  TrayIconKeeper keeper;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.at);
    if (s.begin) keeper.Begin(s.at);
    EXPECT_EQ(keeper.AfterAdd(s.added, s.at), s.next);
    EXPECT_EQ(keeper.Attempts(), s.attempts);
  }
}

TEST(MouseButton, NamesTheActionAndAnyOtherTextSwitchesOff) {
  EXPECT_STREQ(MouseButtonText(true), "Disable mouse");
  EXPECT_STREQ(MouseButtonText(false), "Enable mouse");
  EXPECT_TRUE(MouseEnableAfterClick("Enable mouse"));
  EXPECT_FALSE(MouseEnableAfterClick("Disable mouse"));
  EXPECT_FALSE(MouseEnableAfterClick(""));
}

}  // namespace
