#include "calibration/CalibrationButton.h"

#include <cstring>

#include "input/DeviceCommands.h"
#include "input/DeviceProfile.h"

void RunCalibrationButton(PipelineState& state, TouchPipeline& pipeline,
                          const std::function<void()>& runDialog) {
  bool expected = false;
  if (!state.calibrating.compare_exchange_strong(expected, true)) return;
  runDialog();
  FinishCalibrationDialog(state, pipeline);
}

void FinishCalibrationDialog(PipelineState& state, TouchPipeline& pipeline) {
  state.calibrating = false;
  if (IsSplitChannel(pipeline.Profile().VersionNumber)) {
    state.awaitingReadBack = false;
  } else {
    // The reply re-reads the frame's calibration and enables the buttons.
    pipeline.RequestCalibrationReadBack();
  }
}

bool PipelineCalibrationFrame::IsSplitChannel() const {
  return ::IsSplitChannel(pipeline_.Profile().VersionNumber);
}

void PipelineCalibrationFrame::Send(const std::uint8_t* command) {
  // Its pause on the control thread too: no other command comes between.
  pipeline_.SendDeviceCommand(
      [command](std::uint8_t* buffer) { std::memcpy(buffer + 1, command + 1, kCommandSize - 1); },
      100);
}
