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

 private:
  TouchPipeline& p_;
};
