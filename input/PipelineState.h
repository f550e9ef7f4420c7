#pragma once
// What the pipeline shares with the windows: the main window's flags, the
// calibration block and the driver-API context (PipelineState), and what the
// pipeline asks of the main window (PipelineWindow). The flags are written by
// the windows' threads (the main window, the calibration dialog and page)
// and by the pipeline's control side, and read by the reader threads, so
// they are atomics.
#include <atomic>
#include <cstdint>

#include "input/CalibrationTransform.h"

struct PipelineState {
  // Reports are decoded only once start-up is complete.
  std::atomic<bool> initialised{false};
  // Reports go to the calibration dialog while it runs.
  std::atomic<bool> calibrating{false};
  // CMD_READ_CALIBRATION sent, its reply not yet seen.
  std::atomic<bool> awaitingReadBack{false};
  std::atomic<bool> mouseEnable{true};
  // Byte 2 of the last read-back; non-zero switches the mapping on.
  std::atomic<std::int32_t> calibrationValid{0};

  // The block is written by the read-back's step on the control side, while
  // awaitingReadBack keeps the frame's reports from the decoder (the
  // read-back came from its reader, after the reports it decoded). The
  // decoder of a single-channel frame, on its one reader, maps points
  // through it and writes the in and out points it maps.
  CalibrationData calibration;
  // The driver-API context handed to DisableTouch/EnableTouch.
  void* driverApiContext = nullptr;
};

class PipelineWindow {
 public:
  virtual ~PipelineWindow() = default;
  virtual void EnableCalibrationButton(bool on) = 0;
  virtual void EnableMouseButton(bool on) = 0;
  // A reply report while the calibration dialog runs, on a reader thread:
  // the window copies it and returns, it never waits for the user
  // interface or sends from there.
  virtual void HandleCalibrationReply(const std::uint8_t* report) = 0;
  // Lay the window out for the opened frame's class.
  virtual void LayoutForDevice() {}
};

// A window without a view: it remembers the button states. The headless
// service and the tests use it.
class HeadlessWindow : public PipelineWindow {
 public:
  std::atomic<bool> calibrationButtonEnabled{false};
  std::atomic<bool> mouseButtonEnabled{false};
  std::atomic<int> calibrationReplies{0};

  void EnableCalibrationButton(bool on) override { calibrationButtonEnabled = on; }
  void EnableMouseButton(bool on) override { mouseButtonEnabled = on; }
  void HandleCalibrationReply(const std::uint8_t*) override { ++calibrationReplies; }
};
