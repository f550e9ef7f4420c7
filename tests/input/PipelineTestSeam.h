#pragma once
// What tests look at and do inside a pipeline beyond the service's own
// surface: the mode bytes, the chosen path, a close without a removal.
#include <mutex>
#include <string>

#include "input/TouchPipeline.h"

class TouchPipelineTestSeam {
 public:
  explicit TouchPipelineTestSeam(TouchPipeline& p) : p_(p) {}
  SeriesMode Mode() const { return p_.Mode(); }
  // Entry 0 of the path list.
  std::string SelectedPath() const {
    std::lock_guard<std::recursive_mutex> control(p_.controlMutex_);
    return p_.paths_.path[0];
  }
  void CloseTouchFrame() { p_.CloseTouchFrame(); }
  // The control side held, as while it runs a long sequence.
  std::unique_lock<std::recursive_mutex> HoldControl() {
    return std::unique_lock<std::recursive_mutex>(p_.controlMutex_);
  }
  // An arrival's discovery, run here: the frame is closed and opened again.
  void Rediscover() { p_.Dispatch(FrameEvent::kArrival); }

 private:
  TouchPipeline& p_;
};
