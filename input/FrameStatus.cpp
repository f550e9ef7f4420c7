#include "input/FrameStatus.h"

void FrameStatus::Opened(const DeviceProfile& profile, const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  view_.present = view_.seen = true;
  view_.vendorId = profile.VendorID;
  view_.productId = profile.ProductID;
  view_.versionNumber = profile.VersionNumber;
  view_.series01xx = profile.Series01xx;
  view_.path = path;
  view_.since = clock_();
}

void FrameStatus::Closed() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!view_.present) return;
  view_.present = false;
  view_.since = clock_();
  if (failedReads_ > 0 && view_.since - view_.lastFaultAt <= kRemovalSeconds) {
    view_.faults[int(FrameFault::kReadError)] -= failedReads_;
    view_.lastFault = previousFault_;
    view_.lastFaultDetail = previousDetail_;
    view_.lastFaultAt = previousAt_;
  }
  failedReads_ = 0;
}

void FrameStatus::RecordFault(FrameFault fault, const std::string& detail) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!view_.present || fault == FrameFault::kNone) return;
  const double now = clock_();
  ++view_.faults[int(fault)];
  if (fault != FrameFault::kReadError) {
    failedReads_ = 0;
  } else if (failedReads_ > 0 && now - view_.lastFaultAt <= kRemovalSeconds) {
    ++failedReads_;  // the same run: each reader's read fails
  } else {
    previousFault_ = view_.lastFault;
    previousDetail_ = view_.lastFaultDetail;
    previousAt_ = view_.lastFaultAt;
    failedReads_ = 1;
  }
  view_.lastFault = fault;
  view_.lastFaultDetail = detail;
  view_.lastFaultAt = now;
}

void FrameStatus::KeepReadFaults() {
  std::lock_guard<std::mutex> lock(mutex_);
  failedReads_ = 0;
}

FrameStatusView FrameStatus::View() const {
  std::lock_guard<std::mutex> lock(mutex_);
  FrameStatusView v = view_;
  v.reports = reports_.load(std::memory_order_relaxed);
  return v;
}
