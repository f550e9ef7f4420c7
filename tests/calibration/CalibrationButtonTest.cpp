// The Calibration button's flow over a running pipeline (the main window
// and the test host both run it): the calibrating flag held while the
// dialog runs, then the read-back asked of single-channel frames only.
#include <gtest/gtest.h>

#include "calibration/CalibrationButton.h"
#include "tests/input/MemoryHid.h"
#include "tools/framesim/FrameModel.h"

TEST(CalibrationButton, FlagAroundTheDialogThenReadBackForSingleChannelFramesOnly) {
  struct Case {
    const char* model;
    bool readBack;
  };
  for (const Case& c : {Case{"single-b", true}, Case{"split-2pt", false}, Case{"series", true}}) {
    SCOPED_TRACE(c.model);
    const framesim::FrameModel* m = framesim::FindModel(c.model);
    ASSERT_NE(m, nullptr);
    MemoryHid hid;
    for (const framesim::Collection& col : framesim::CollectionsOf(*m)) {
      hid.Plug({framesim::InterfacePath(*m, "7&2a8f1c3&0", col.number), m->vendorId, m->productId,
                m->versionNumber},
               false);
    }
    HeadlessMainWindow window;
    NullDriverApi driver;
    TouchPipeline pipeline(hid, window, driver, nullptr);
    pipeline.SetPauseScale(0.02);
    pipeline.StartTouchPipeline();
    pipeline.CompleteStartUp(true);  // its commands are written before it returns
    ASSERT_TRUE(pipeline.IsOpen());

    // The opposite of what the button must leave behind.
    window.awaitingReadBack = !c.readBack;
    const std::size_t before = hid.Writes().size();
    bool calibratingInDialog = false;
    std::size_t writesInDialog = 0;
    RunCalibrationButton(window, pipeline, [&] {
      calibratingInDialog = window.calibrating;
      writesInDialog = hid.Writes().size();
    });
    EXPECT_TRUE(calibratingInDialog);
    EXPECT_FALSE(window.calibrating);
    EXPECT_EQ(writesInDialog, before);  // nothing is sent before the dialog
    EXPECT_EQ(window.awaitingReadBack, c.readBack);
    const std::vector<MemoryHid::Written> w = hid.Writes();
    ASSERT_EQ(w.size(), before + (c.readBack ? 1 : 0));
    if (c.readBack) {
      EXPECT_EQ(w.back().bytes[1], 0x05);  // read calibration
    }
    pipeline.ShutDown();
  }
}
