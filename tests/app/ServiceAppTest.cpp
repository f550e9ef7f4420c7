// The application's start-up and shut-down order against a simulated
// multi-touch frame (in-process simulator): the driver-API calls, what the
// frame receives between them, and the outputs' state at each step.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/ServiceApp.h"
#include "tests/support/OscCapture.h"
#include "tests/support/SimControl.h"
#include "tests/support/TempSettings.h"
#include "tests/support/WaitFor.h"
#include "tests/support/XmlClient.h"

namespace {

// Writes the frame has received so far ("fc300101..." heads).
std::vector<std::string> Writes(testsupport::SimControl& sim) {
  std::vector<std::string> out;
  for (const std::string& l : sim.command("record")) {
    const auto w = l.find(" w ");
    if (l.compare(0, 4, "rec ") == 0 && w != std::string::npos) out.push_back(l.substr(w + 3, 8));
  }
  return out;
}

// Each call, with the frame's writes and the outputs' state at that moment.
class RecordingDriver : public DriverApiPort {
 public:
  RecordingDriver(testsupport::SimControl& sim, std::uint16_t frames)
      : sim_(sim), frames_(frames) {}
  struct Call {
    std::string name;
    void* context;
    std::size_t writes;
    bool outputStarted;
  };
  std::vector<Call> calls;
  TouchOutputs* outputs = nullptr;

  void InitTouch(void* c, void*) override { Log("InitTouch", c); }
  std::uint16_t GetTouchDevCount() override { return Log("GetTouchDevCount", nullptr), frames_; }
  void DisableRightButton(void* c) override { Log("DisableRightButton", c); }
  void DisableWheel(void* c) override { Log("DisableWheel", c); }
  void DisableDrag(void* c) override { Log("DisableDrag", c); }
  void EnableRightButton(void* c) override { Log("EnableRightButton", c); }
  void EnableWheel(void* c) override { Log("EnableWheel", c); }
  void SetWheelSensitivity(void* c, int s) override {
    Log("SetWheelSensitivity" + std::to_string(s), c);
  }
  void DisableTouch(void* c) override { Log("DisableTouch", c); }
  void EnableTouch(void* c) override { Log("EnableTouch", c); }
  std::uint8_t ExitTouch() override { return Log("ExitTouch", nullptr), 1; }

  std::string Names(std::size_t from = 0) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string s;
    for (std::size_t i = from; i < calls.size(); ++i) s += calls[i].name + " ";
    return s;
  }

 private:
  void Log(const std::string& name, void* context) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls.push_back({name, context, Writes(sim_).size(), outputs && outputs->outputStarted()});
  }
  mutable std::mutex mutex_;
  testsupport::SimControl& sim_;
  std::uint16_t frames_;
};

class ServiceAppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.connected());
    hid_ = platform::CreateVirtualHidBackend(sim_.address());
  }
  std::unique_ptr<ServiceApp> Make(DriverApiPort& driver) {
    ServiceApp::Options o;
    o.settingsPath = settings_.path();
    o.endpoints.tuioPort = rx_.port();
    o.endpoints.xml.port = 0;
    o.pause = [](std::uint32_t) {};
    o.commandPauseScale = 0.05;
    return std::make_unique<ServiceApp>(*hid_, driver, std::move(o));
  }

  testsupport::SimControl sim_;
  std::unique_ptr<platform::HidBackend> hid_;
  testsupport::TempSettings settings_;
  testsupport::UdpCapture rx_;
};

TEST_F(ServiceAppTest, StartUpAndShutDownRunInTheMainWindowsOrder) {
  ASSERT_EQ(sim_.last("add split-mt t"), "ok t");
  RecordingDriver driver(sim_, 1);
  auto app = Make(driver);
  driver.outputs = &app->Outputs();
  app->Start();
  ASSERT_TRUE(app->Initialised());
  EXPECT_EQ(driver.Names(),
            "InitTouch GetTouchDevCount DisableRightButton DisableWheel DisableDrag "
            // the stored mouse setting (on) of a multi-touch frame
            "DisableTouch EnableTouch ");
  // The driver API is set up before the frame hears anything; the mouse
  // setting comes once the pipeline has started the frame and the outputs.
  EXPECT_EQ(driver.calls[4].writes, 0u);
  EXPECT_FALSE(driver.calls[4].outputStarted);
  EXPECT_GE(driver.calls[5].writes, 1u);
  EXPECT_TRUE(driver.calls[5].outputStarted);
  void* const context = driver.calls[0].context;
  ASSERT_NE(context, nullptr);
  for (std::size_t i = 0; i < driver.calls.size(); ++i) {
    if (i != 1) {
      EXPECT_EQ(driver.calls[i].context, context) << driver.calls[i].name;
    }
  }
  EXPECT_NE(app->Outputs().XmlPort(), 0);

  const std::size_t before = driver.calls.size();
  const std::size_t writesBefore = Writes(sim_).size();
  app->ShutDown();
  EXPECT_EQ(
      driver.Names(before),
      "EnableRightButton EnableWheel SetWheelSensitivity3 DisableTouch EnableTouch ExitTouch ");
  // Right button and wheel back on before the frame's exit commands; mouse
  // emulation on after the frame closed; ExitTouch after the outputs stopped.
  EXPECT_EQ(driver.calls[before + 2].writes, writesBefore);
  const std::vector<std::string> w = Writes(sim_);
  ASSERT_EQ(w.size(), writesBefore + 2);
  EXPECT_EQ(w[writesBefore], "fc060102");      // mouse mode at exit
  EXPECT_EQ(w[writesBefore + 1], "fc300101");  // touch output off
  EXPECT_EQ(driver.calls[before + 3].writes, writesBefore + 2);
  EXPECT_TRUE(driver.calls[before + 4].outputStarted);
  EXPECT_FALSE(driver.calls.back().outputStarted);
  EXPECT_EQ(app->DriverApi().Context(), nullptr);
  EXPECT_EQ(app->Outputs().XmlPort(), 0);
  // The receivers heard the output end: the empty cursor and object
  // bundles come last.
  const auto bundles = rx_.bundles(200);
  ASSERT_GE(bundles.size(), 2u);
  EXPECT_EQ(testsupport::Describe(bundles[bundles.size() - 2]),
            "[ /tuio/2Dcur ,s \"alive\"; /tuio/2Dcur ,si \"fseq\" -1; ]");
  EXPECT_EQ(testsupport::Describe(bundles.back()),
            "[ /tuio/2Dobj ,s \"alive\"; /tuio/2Dobj ,si \"fseq\" -1; ]");

  app->ShutDown();  // once only
  EXPECT_EQ(driver.calls.size(), before + 6);
  sim_.last("unplug t");
}

TEST_F(ServiceAppTest, WithoutFramesOrStartTheShutDownStaysQuiet) {
  RecordingDriver driver(sim_, 0);
  {
    auto app = Make(driver);
    app->ShutDown();  // never started: no driver-API call, nothing to stop
    EXPECT_EQ(driver.Names(), "");
  }
  {
    // No frame reported by the driver API and none plugged: nothing is
    // disabled, so nothing is enabled again; the destructor shuts down.
    auto app = Make(driver);
    app->Start();
    EXPECT_TRUE(app->Initialised());
    EXPECT_FALSE(app->Pipeline().IsOpen());
  }
  EXPECT_EQ(driver.Names(), "InitTouch GetTouchDevCount ExitTouch ");
}

// The status taken on another thread while a gesture's reports flow (a
// ThreadSanitizer build sees every counter's sharing) ends as what the
// simulator sent and the UDP receiver got.
TEST_F(ServiceAppTest, StatusIsReadWhileReportsFlowAndMatchesThePeers) {
  ASSERT_EQ(sim_.last("add split-mt s"), "ok s");
  RecordingDriver driver(sim_, 1);
  auto app = Make(driver);
  app->Start();
  std::atomic<bool> stop{false};
  std::size_t datagrams = 0;
  std::thread reader([&] {
    while (!stop)
      EXPECT_FALSE(StatusMetrics(app->Status()).empty() || StatusJson(app->Status()).empty());
  });
  ASSERT_EQ(sim_.last("gesture s 200 0.2,0.2>0.4,0.4 0.6,0.6>0.8,0.5"), "ok");
  const auto sent = [&] {
    const std::string state = sim_.last("state s");
    return std::stoull(state.substr(state.find(" reports=") + 9));
  };
  EXPECT_TRUE(testsupport::WaitFor(
      [&] {
        datagrams += rx_.drain(50).size();
        const StatusSnapshot s = app->Status();
        return s.frame.reports == sent() && s.touches == 2 && s.touchesDown == 0 &&
               s.listener[kUdpListener].packets == datagrams;
      },
      10000))
      << app->Status().frame.reports << " reports of " << sent() << ", " << datagrams
      << " datagrams";
  stop = true;
  reader.join();
  app->ShutDown();
  sim_.last("unplug s");
}

// A reload reads the settings the way the tray program does: the mouse
// setting applied when it changed, the frame list at a discovery, which
// opens a frame the new list names and leaves an open one alone.
TEST_F(ServiceAppTest, ReloadAppliesTheMouseSettingAndTheFrameList) {
  settings_.Write("[Settings]\nVid&PidList=12345678\nMouseEnable=1\n");
  ASSERT_EQ(sim_.last("add split-mt t"), "ok t");
  RecordingDriver driver(sim_, 1);
  auto app = Make(driver);
  app->Start();
  EXPECT_FALSE(app->Pipeline().IsOpen());  // not listed

  settings_.Write("[Settings]\nVid&PidList=3D5E0021\nMouseEnable=0\n");
  std::size_t before = driver.calls.size();
  app->ReloadSettings();
  // The discovery runs on the device-change worker.
  for (int i = 0; i < 200 && driver.Names(before).empty(); ++i) rx_.bundles(10);
  EXPECT_TRUE(app->Pipeline().IsOpen());
  EXPECT_EQ(driver.Names(before), "DisableTouch ");  // opened with mouse emulation off

  settings_.Write("[Settings]\nVid&PidList=3D5E0021\nMouseEnable=1\n");
  before = driver.calls.size();
  app->ReloadSettings();
  EXPECT_EQ(driver.Names(before), "DisableTouch EnableTouch ");

  // Nothing changed: no command, and the open frame stays as it is.
  before = driver.calls.size();
  const std::size_t writes = Writes(sim_).size();
  app->ReloadSettings();
  rx_.bundles(100);
  EXPECT_EQ(driver.Names(before), "");
  EXPECT_EQ(Writes(sim_).size(), writes);
  EXPECT_TRUE(app->Pipeline().IsOpen());
  app->ShutDown();
  app->ReloadSettings();  // after the shut-down: nothing
  sim_.last("unplug t");
}

}  // namespace
