#pragma once
// The calibration a reader applies: the reader's own copy, swapped in by the
// control thread. Three slots: the control thread fills its back slot and
// trades it for the middle one (marked fresh); a reader that finds the
// middle slot fresh trades its front slot for it before its next report. No
// lock, nothing allocated, the reader never waits.
#include <atomic>

#include "input/CalibrationTransform.h"

class ReaderCalibration {
 public:
  // Control thread: the calibration for the reader's next report.
  void Publish(const CalibrationData& data) {
    slot_[back_] = data;
    back_ = middle_.exchange(back_ | kFresh, std::memory_order_acq_rel) & kIndex;
  }
  // The reader's thread only: its copy, the latest published one first.
  CalibrationData& Current() {
    if (middle_.load(std::memory_order_relaxed) & kFresh)
      front_ = middle_.exchange(front_, std::memory_order_acq_rel) & kIndex;
    return slot_[front_];
  }

 private:
  static constexpr unsigned kIndex = 3, kFresh = 4;
  CalibrationData slot_[3];
  unsigned back_ = 0;  // the control thread's
  std::atomic<unsigned> middle_{1};
  unsigned front_ = 2;  // the reader's
};
