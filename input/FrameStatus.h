#pragma once
// The frame as the status answer tells it: present or not, which frame,
// since when, how many reports it sent, and the last fault it had. Written
// by the control side (open, close), the readers (each report, a failed
// read) and the command channel (a refused write); read by whoever asks.
// A report costs one relaxed increment: no lock, no allocation.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "common/ServiceStatus.h"
#include "input/DeviceProfile.h"

class FrameStatus {
 public:
  // `clock`: seconds since the epoch (tests step it).
  explicit FrameStatus(double (*clock)() = &WallClockSeconds) : clock_(clock) {}

  // The frame's handles are open: it is present from now on.
  void Opened(const DeviceProfile& profile, const std::string& path);
  // The frame is being closed (removed, rediscovered, the service ending):
  // absent from now on; what its handles answer while they close is no fault.
  // Nor is a read that failed just before (kRemovalSeconds): a frame that is
  // pulled fails its pending read before the system reports the removal.
  void Closed();
  static constexpr double kRemovalSeconds = 1.0;
  void CountReport() { reports_.fetch_add(1, std::memory_order_relaxed); }
  // A fault seen while the frame is present; `detail` is the system's text.
  void RecordFault(FrameFault fault, const std::string& detail = {});

  // The run of failed reads is no removal's: the reads came back, or they
  // went on failing with the frame still listed. It stays a fault.
  void KeepReadFaults();

  FrameStatusView View() const;

 private:
  double (*const clock_)();
  std::atomic<std::uint64_t> reports_{0};
  mutable std::mutex mutex_;  // guards view_ (all but its report count)
  FrameStatusView view_;
  // The last fault before the latest run of failed reads (each reader's
  // read fails when a frame is pulled), restored when the run turns out to
  // be a removal's.
  std::uint64_t failedReads_ = 0;  // in the run
  FrameFault previousFault_ = FrameFault::kNone;
  std::string previousDetail_;
  double previousAt_ = 0;
};
