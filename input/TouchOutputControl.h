#pragma once
// The output side's start and stop, as the pipeline drives them: the outputs
// start with the first frame and stop when it leaves. The output issue
// implements this over the TUIO glue and the XML server.
class TouchOutputControl {
 public:
  virtual ~TouchOutputControl() = default;
  virtual void StartTouchOutput() = 0;
  virtual void StopTouchOutput() = 0;
  virtual bool IsTouchOutputStarted() const = 0;
  // Clears the XML server's entry buffers before anything starts.
  virtual void ResetXmlEntries() {}
  // Starts the XML listener thread (once).
  virtual void StartXmlListener() {}
};
