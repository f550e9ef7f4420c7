#include "calibration/CalibrationButton.h"

#include <cstring>

#include "calibration/CalibrationCommands.h"
#include "input/DeviceProfile.h"

void RunCalibrationButton(MainWindowModel& window, TouchPipeline& pipeline,
                          const std::function<void()>& runDialog) {
  window.calibrating = true;
  runDialog();
  window.calibrating = false;
  if (IsSplitChannel(pipeline.Profile().VersionNumber)) {
    window.awaitingReadBack = false;
  } else {
    // The reply re-reads the frame's calibration and enables the buttons.
    pipeline.RequestCalibrationReadBack();
  }
}

bool PipelineCalibrationFrame::IsSplitChannel() const {
  return ::IsSplitChannel(pipeline_.Profile().VersionNumber);
}

void PipelineCalibrationFrame::Send(const std::uint8_t* command) {
  pipeline_.SendCommand([command](std::uint8_t* buffer) {
    std::memcpy(buffer + 1, command + 1, kCalibrationCommandSize - 1);
  });
  pipeline_.Pause(100);
}
