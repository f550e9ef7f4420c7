#pragma once
// The main window's Calibration button, and the dialog's way to the frame
// through the running pipeline.
#include <functional>

#include "calibration/CalibrationDialog.h"
#include "input/PipelineState.h"
#include "input/TouchPipeline.h"

// The calibrating flag is set while `runDialog` shows the dialog modally
// (the readers then hand replies to it); afterwards a single-channel frame
// is asked for its new calibration block. Nothing happens while a page
// calibrates (it holds the flag).
void RunCalibrationButton(PipelineState& state, TouchPipeline& pipeline,
                          const std::function<void()>& runDialog);
// What follows the dialog's close (and a page's calibration): the flag
// cleared, then a single-channel frame's read-back.
void FinishCalibrationDialog(PipelineState& state, TouchPipeline& pipeline);

class PipelineCalibrationFrame final : public CalibrationFrame {
 public:
  PipelineCalibrationFrame(TouchPipeline& pipeline, PipelineState& state)
      : pipeline_(pipeline), state_(state) {}
  bool IsOpen() const override { return pipeline_.IsOpen(); }
  bool IsSplitChannel() const override;
  std::uint8_t InputReportId() const override { return pipeline_.Profile().InputReportID; }
  void Send(const std::uint8_t* command) override;
  void SetCalibrationValid() override { state_.calibrationValid = 1; }

 private:
  TouchPipeline& pipeline_;
  PipelineState& state_;
};
