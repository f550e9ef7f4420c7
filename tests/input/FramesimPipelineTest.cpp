// The pipeline against frames played by the frame simulator (in-process
// natively, the native simulator over loopback for the Windows build): the
// bytes each class of frame receives, the read-back, Series01xx
// initialisation, and device changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "PipelineTestSeam.h"
#include "RecordingSinks.h"
#include "common/DriverApiPort.h"
#include "input/TouchPipeline.h"
#include "tests/support/SimControl.h"
#include "tests/support/WaitFor.h"

namespace {

struct Rec {
  std::string path, hex;  // hex: the written report, lower case
};

class NoOutput : public OutputLifecycle {
 public:
  std::atomic<bool> started{false};
  void StartTouchOutput() override { started = true; }
  void StopTouchOutput() override { started = false; }
  bool IsTouchOutputStarted() const override { return started; }
};

// The simulator runs real pauses: allow for a loaded machine.
template <class Pred>
bool Eventually(Pred pred) {
  return testsupport::WaitFor(pred, 10000);
}

class Framesim : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(control_.connected());
    // The Windows build's tests share one simulator: start from an empty record.
    control_.last("record clear");
    hid_ = platform::CreateVirtualHidBackend(control_.address());
    ASSERT_TRUE(hid_);
  }
  void TearDown() override {
    pipeline_.reset();
    // Frames are named per test; unplugging leaves the simulator clean.
    for (const std::string& name : frames_) control_.last("unplug " + name);
  }

  void Add(const std::string& model, const std::string& name) {
    ASSERT_EQ(control_.last("add " + model + " " + name), "ok " + name);
    frames_.push_back(name);
  }
  TouchPipeline& Start(bool mouse = true) {
    pipeline_ = std::make_unique<TouchPipeline>(*hid_, state_, window_, driver_, &output_);
    pipeline_->SetSinks(&sinks_, &sinks_);
    pipeline_->StartTouchPipeline();
    pipeline_->CompleteStartUp(mouse);
    return *pipeline_;
  }
  std::vector<Rec> Record() {
    const std::vector<std::string> lines = control_.command("record");
    std::vector<Rec> out;
    for (const std::string& l : lines) {
      std::istringstream in(l);
      std::string tag, time, path, kind, hex;
      in >> tag >> time >> path >> kind >> hex;
      if (tag == "rec" && kind == "w") out.push_back({path, hex});
    }
    return out;
  }
  // Waits until the frame has received nothing new for a while (arrivals
  // queued before the pipeline started are handled by then).
  void Quiet() {
    std::size_t last = Record().size();
    for (int i = 0; i < 50; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      const std::size_t now = Record().size();
      if (now == last) return;
      last = now;
    }
  }
  // The written reports' first bytes, e.g. "fc30010100 01" without the space.
  static std::vector<std::string> HeadsOf(const std::vector<Rec>& r, std::size_t n) {
    std::vector<std::string> out;
    for (const Rec& x : r) out.push_back(x.hex.substr(0, 2 * n));
    return out;
  }

  testsupport::SimControl control_;
  std::unique_ptr<platform::HidBackend> hid_;
  std::vector<std::string> frames_;
  PipelineState state_;
  HeadlessWindow window_;
  NullDriverApi driver_;
  NoOutput output_;
  RecordingSinks sinks_;
  std::unique_ptr<TouchPipeline> pipeline_;
};

using HeadList = std::vector<std::string>;

TEST_F(Framesim, StartUpCommandsOfEachClassOfFrame) {
  struct Case {
    const char* model;
    std::size_t n;   // bytes compared
    HeadList heads;  // in the order written
    const char* col;
  } cases[] = {
      // touch output on, stored mouse setting, read calibration, and the
      // mouse mode once the read-back arrived (read calibration does not
      // clear the buffer: byte 2 is the mouse command's)
      {"single-b", 6, {"fc3001010001", "fc0601000000", "fc0501000000", "fc0601010000"}, "col03"},
      // report id 0x02, no touch output command
      {"single-a", 4, {"02060100", "02050100", "02060101"}, "col03"},
      {"split-2pt", 6, {"fc3001010001", "fc0601000000"}, "col03"},
      // multi-touch: mouse emulation goes through the driver API
      {"split-mt", 6, {"fc3001010001"}, "col03"},
  };
  int k = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    control_.last("record clear");
    const std::string name = std::string("s") + std::to_string(k++);
    Add(c.model, name);
    TouchPipeline& p = Start();
    ASSERT_TRUE(p.IsOpen());
    ASSERT_TRUE(Eventually(
        [&] { return window_.mouseButtonEnabled.load() || p.Profile().VersionNumber >= 0x3000; }));
    ASSERT_TRUE(Eventually([&] { return Record().size() >= c.heads.size(); }));
    const auto rec = Record();
    EXPECT_EQ(HeadsOf(rec, c.n), c.heads);
    for (const Rec& r : rec) EXPECT_NE(r.path.find(c.col), std::string::npos) << r.path;
    pipeline_.reset();
    control_.last("unplug " + name);
    window_.mouseButtonEnabled = false;
  }
}

TEST_F(Framesim, ReadBackStoresTheFramesBlockAndMapsTouches) {
  Add("single-b", "rb");
  TouchPipeline& p = Start();
  ASSERT_TRUE(Eventually([&] { return window_.calibrationButtonEnabled.load(); }));
  EXPECT_EQ(state_.calibrationValid, 1);
  EXPECT_FALSE(state_.awaitingReadBack);
  // The model's factory block: R = (512,512) (3584,512) (3584,3584),
  // P = (530,498) (3561,520) (3570,3602).
  EXPECT_EQ(state_.calibration.block.referenceX[1], 3584);
  EXPECT_EQ(state_.calibration.block.measuredY[2], 3602);
  // A touch at P1 lands on R1.
  ASSERT_EQ(control_.last("inject rb 3 fc0000"
                          "01e90d0802"
                          "0000"
                          "00"
                          "00000000"),
            "ok");
  ASSERT_TRUE(Eventually([&] { return !sinks_.Snapshot().empty(); }));
  EXPECT_EQ(sinks_.Snapshot().back().frame.slot[0].state, TOUCH_DOWN);
  EXPECT_EQ(sinks_.Snapshot().back().frame.slot[0].x, 3584u);
  EXPECT_EQ(sinks_.Snapshot().back().frame.slot[0].y, 512u);
  (void)p;
}

TEST_F(Framesim, Series01xxInitialisationAndModeReport) {
  Add("series", "se");
  TouchPipeline& p = Start(false);
  ASSERT_TRUE(Eventually([&] { return window_.mouseButtonEnabled.load(); }));
  // The query answers the modes as the initialisation set them, (0, 1, 3, 0,
  // 0), and the model's m5: six bytes from a frame of version 0x0201.
  ASSERT_TRUE(Eventually([&] { return TouchPipelineTestSeam(p).Mode().m[5] == 0x05; }));
  EXPECT_EQ(TouchPipelineTestSeam(p).Mode().m[1], 1);
  EXPECT_EQ(TouchPipelineTestSeam(p).Mode().m[2], 3);
  const auto rec = Record();
  ASSERT_GE(rec.size(), 4u);
  EXPECT_EQ(rec[0].hex.substr(0, 14), "fe080001030000");  // (m0, 1, 3, 0, 0), m0 still 0
  EXPECT_EQ(rec[1].hex.substr(0, 6), "fe0c00");           // query, buffer cleared
  // Mouse on (m3 = 1) from the modes the report gave, which start-up awaits.
  EXPECT_EQ(rec[2].hex.substr(0, 14), "fe080001030100");
  EXPECT_EQ(rec[3].hex.substr(0, 14).substr(6), "03000100");  // mouse off: (m0, 3, 0, 1, 0)
  for (const Rec& r : rec) EXPECT_NE(r.path.find("col01"), std::string::npos);
}

TEST_F(Framesim, ExitSendsMouseOnThenTouchOutputOff) {
  Add("single-b", "ex");
  TouchPipeline& p = Start();
  ASSERT_TRUE(Eventually([&] { return window_.mouseButtonEnabled.load(); }));
  Quiet();
  control_.last("record clear");
  p.ShutDown();
  EXPECT_EQ(HeadsOf(Record(), 6), (HeadList{"fc0601020000", "fc3001010000"}));
  EXPECT_FALSE(p.IsOpen());
}

TEST_F(Framesim, UnplugDuringAPendingReadThenPlugAgain) {
  Add("single-b", "up");
  TouchPipeline& p = Start();
  ASSERT_TRUE(Eventually([&] { return window_.mouseButtonEnabled.load(); }));
  ASSERT_EQ(control_.last("unplug up"), "ok");
  // The removal closes the frame, then disables the buttons and clears the
  // calibration-valid flag.
  ASSERT_TRUE(Eventually(
      [&] { return !p.IsOpen() && !window_.mouseButtonEnabled && state_.calibrationValid == 0; }));
  Quiet();
  control_.last("record clear");
  ASSERT_EQ(control_.last("plug up"), "ok");
  ASSERT_TRUE(Eventually([&] { return p.IsOpen() && window_.mouseButtonEnabled.load(); }));
  // Arrival (once per collection of the frame, each closing and reopening):
  // read calibration, touch output on, the stored mouse setting, and the
  // read-back's mouse mode.
  const auto has = [&](const std::string& head) {
    for (const Rec& r : Record()) {
      if (r.hex.compare(0, head.size(), head) == 0) return true;
    }
    return false;
  };
  EXPECT_TRUE(Eventually(
      [&] { return has("fc05") && has("fc300101") && has("fc060100") && has("fc060101"); }));
  // The notifications of the frame's collections are one re-discovery: one
  // start-up sequence, not one per collection.
  Quiet();
  std::size_t readCalibration = 0;
  for (const Rec& r : Record()) readCalibration += r.hex.compare(0, 4, "fc05") == 0;
  EXPECT_EQ(readCalibration, 1u);
}

TEST_F(Framesim, UnrelatedArrivalLeavesTheFrameAloneAndASecondFrameTakesOver) {
  Add("single-b", "first");
  Add("single-c", "second");
  TouchPipeline& p = Start();
  ASSERT_TRUE(Eventually([&] { return window_.mouseButtonEnabled.load(); }));
  const std::string firstPath = TouchPipelineTestSeam(p).SelectedPath();
  EXPECT_NE(firstPath.find("pid_0012"), std::string::npos);

  // The profile is the opened frame's too.
  EXPECT_EQ(p.Profile().VersionNumber, 0x2105);

  // A mouse arrives: the frame stays open and receives nothing.
  Quiet();
  control_.last("record clear");
  Add("mouse", "mouse");
  Quiet();
  EXPECT_TRUE(Record().empty());
  EXPECT_EQ(state_.calibrationValid, 1);
  EXPECT_TRUE(p.IsOpen());

  ASSERT_EQ(control_.last("unplug first"), "ok");
  ASSERT_TRUE(Eventually([&] {
    return TouchPipelineTestSeam(p).SelectedPath().find("pid_0013") != std::string::npos;
  }));
  ASSERT_TRUE(Eventually([&] { return p.IsOpen(); }));
  // Started at once: the outputs, and its read-back asked for.
  EXPECT_TRUE(output_.started);
  ASSERT_TRUE(Eventually([&] {
    for (const Rec& r : Record())
      if (r.hex.compare(0, 4, "fc05") == 0) return true;
    return false;
  }));
}

}  // namespace
