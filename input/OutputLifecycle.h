#pragma once
// What the pipeline needs of the outputs: their start and stop (they start
// with the first frame and stop when it leaves), the XML listener's start,
// and the opened frame's traits. The application implements it over
// TouchOutputs (TouchOutputsLifecycle); tests record the calls.
#include "input/DeviceProfile.h"

class OutputLifecycle {
 public:
  virtual ~OutputLifecycle() = default;
  virtual void StartTouchOutput() = 0;
  virtual void StopTouchOutput() = 0;
  virtual bool IsTouchOutputStarted() const = 0;
  // Clears the XML server's entry buffers before anything starts.
  virtual void ResetXmlEntries() {}
  // Starts the XML listener thread (once).
  virtual void StartXmlListener() {}
  // A frame was opened: its profile, before the readers see its first report.
  virtual void DeviceOpened(const DeviceProfile& profile) { (void)profile; }
};
