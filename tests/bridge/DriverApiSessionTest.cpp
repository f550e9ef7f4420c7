// The order of the service's driver-API calls at start-up, mouse switching
// and shut-down, against a port that writes down every call and pause.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/DriverApiPort.h"
#include "bridge/DriverApiSession.h"

namespace {

using bridge::DriverApiSession;

class RecordingApi final : public DriverApiPort {
 public:
  explicit RecordingApi(std::uint16_t count) : count_(count) {}

  void InitTouch(void* context, void* mainWindow) override {
    Note("InitTouch", context);
    // The context is zeroed and of the agreed size when it arrives.
    const unsigned char* bytes = static_cast<const unsigned char*>(context);
    zeroed = bytes && std::all_of(bytes, bytes + bridge::kDriverApiContextSize,
                                  [](unsigned char b) { return b == 0; });
    window = mainWindow;
  }
  std::uint16_t GetTouchDevCount() override {
    calls.push_back("GetTouchDevCount");
    return count_;
  }
  void DisableRightButton(void* c) override { Note("DisableRightButton", c); }
  void DisableWheel(void* c) override { Note("DisableWheel", c); }
  void DisableDrag(void* c) override { Note("DisableDrag", c); }
  void EnableRightButton(void* c) override { Note("EnableRightButton", c); }
  void EnableWheel(void* c) override { Note("EnableWheel", c); }
  void SetWheelSensitivity(void* c, int s) override {
    Note("SetWheelSensitivity(" + std::to_string(s) + ")", c);
  }
  void DisableTouch(void* c) override { Note("DisableTouch", c); }
  void EnableTouch(void* c) override { Note("EnableTouch", c); }
  std::uint8_t ExitTouch() override {
    calls.push_back("ExitTouch");
    return 1;
  }

  std::vector<std::string> calls;
  std::vector<void*> contexts;  // the context of every call that takes one
  bool zeroed = false;
  void* window = nullptr;

 private:
  void Note(const std::string& call, void* context) {
    calls.push_back(call);
    contexts.push_back(context);
  }
  std::uint16_t count_;
};

struct Session {
  explicit Session(std::uint16_t count)
      : api(count), session(api, [this](std::uint32_t ms) {
          api.calls.push_back("pause(" + std::to_string(ms) + ")");
        }) {}
  RecordingApi api;
  DriverApiSession session;
};

using Calls = std::vector<std::string>;

TEST(DriverApiSession, StartWithFramesTurnsRightButtonWheelAndDragOff) {
  Session s(1);
  int window = 0;
  s.session.Start(&window);
  EXPECT_EQ(s.api.calls, (Calls{"InitTouch", "GetTouchDevCount", "DisableRightButton",
                                "DisableWheel", "DisableDrag"}));
  EXPECT_TRUE(s.api.zeroed);
  EXPECT_EQ(s.api.window, &window);
  for (void* c : s.api.contexts) EXPECT_EQ(c, s.session.Context());
  EXPECT_EQ(s.session.DeviceCount(), 1);

  s.session.Start(&window);  // the first show only
  EXPECT_EQ(s.api.calls.size(), 5u);
}

TEST(DriverApiSession, WithoutFramesNothingIsTurnedOffOrBackOn) {
  Session s(0);
  s.session.Start(nullptr);
  s.session.Shutdown(nullptr);
  EXPECT_EQ(s.api.calls, (Calls{"InitTouch", "GetTouchDevCount", "ExitTouch"}));
}

// A missing component reads 0xFFFF: not 0, so the calls go out (and fail).
TEST(DriverApiSession, AMissingComponentsCountIsNotZero) {
  Session s(0xFFFF);
  s.session.Start(nullptr);
  EXPECT_EQ(s.api.calls.size(), 5u);
}

TEST(DriverApiSession, ShutdownRestoresThenRunsTheDeviceShutdownThenExits) {
  Session s(2);
  s.session.Start(nullptr);
  void* context = s.session.Context();
  s.api.calls.clear();
  s.api.contexts.clear();
  void* contextDuringShutdown = nullptr;
  s.session.Shutdown([&] {
    s.api.calls.push_back("device shut-down");
    contextDuringShutdown = s.session.Context();
    s.session.SwitchMultiTouchMouse(true);
  });
  EXPECT_EQ(s.api.calls,
            (Calls{"EnableRightButton", "EnableWheel", "SetWheelSensitivity(3)", "device shut-down",
                   "DisableTouch", "pause(200)", "EnableTouch", "pause(100)", "ExitTouch"}));
  EXPECT_EQ(contextDuringShutdown, context);
  for (void* c : s.api.contexts) EXPECT_EQ(c, context);
  EXPECT_EQ(s.session.Context(), nullptr);  // freed after ExitTouch
}

TEST(DriverApiSession, MultiTouchMouseSwitchPausesBetweenAndAfter) {
  Session s(1);
  s.session.Start(nullptr);
  s.api.calls.clear();
  s.session.SwitchMultiTouchMouse(false);
  EXPECT_EQ(s.api.calls, (Calls{"DisableTouch", "pause(100)"}));
  s.api.calls.clear();
  s.session.SwitchMultiTouchMouse(true);
  EXPECT_EQ(s.api.calls, (Calls{"DisableTouch", "pause(200)", "EnableTouch", "pause(100)"}));
}

}  // namespace
