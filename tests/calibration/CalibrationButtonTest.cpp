// The Calibration button's flow over a running pipeline (the main window
// and the test host both run it): the calibrating flag held while the
// dialog runs, then the read-back asked of single-channel frames only.
#include <gtest/gtest.h>

#include "calibration/CalibrationButton.h"
#include "tests/input/MemoryHid.h"

TEST(CalibrationButton, FlagAroundTheDialogThenReadBackForSingleChannelFramesOnly) {
  struct Case {
    const char* model;
    bool readBack;
  };
  for (const Case& c : {Case{"single-b", true}, Case{"split-2pt", false}, Case{"series", true}}) {
    SCOPED_TRACE(c.model);
    MemoryHid hid;
    hid.PlugFrame(testframes::Of(c.model), false);
    PipelineState state;
    HeadlessWindow window;
    NullDriverApi driver;
    TouchPipeline pipeline(hid, state, window, driver, nullptr);
    pipeline.SetPauseScale(0.02);
    pipeline.StartTouchPipeline();
    pipeline.CompleteStartUp(true);  // its commands are written before it returns
    ASSERT_TRUE(pipeline.IsOpen());

    // The opposite of what the button must leave behind.
    state.awaitingReadBack = !c.readBack;
    const std::size_t before = hid.Writes().size();
    bool calibratingInDialog = false;
    std::size_t writesInDialog = 0;
    RunCalibrationButton(state, pipeline, [&] {
      calibratingInDialog = state.calibrating;
      writesInDialog = hid.Writes().size();
    });
    EXPECT_TRUE(calibratingInDialog);
    EXPECT_FALSE(state.calibrating);
    EXPECT_EQ(writesInDialog, before);  // nothing is sent before the dialog
    EXPECT_EQ(state.awaitingReadBack, c.readBack);
    const std::vector<MemoryHid::Written> w = hid.Writes();
    ASSERT_EQ(w.size(), before + (c.readBack ? 1 : 0));
    if (c.readBack) {
      EXPECT_EQ(w.back().bytes[1], 0x05);  // read calibration
    }
    pipeline.ShutDown();
  }
}
