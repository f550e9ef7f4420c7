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
}

void FrameStatus::RecordFault(FrameFault fault, const std::string& detail) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!view_.present || fault == FrameFault::None) return;
  ++view_.faults[int(fault)];
  view_.lastFault = fault;
  view_.lastFaultDetail = detail;
  view_.lastFaultAt = clock_();
}

bool FrameStatus::Present() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return view_.present;
}

FrameStatusView FrameStatus::View() const {
  std::lock_guard<std::mutex> lock(mutex_);
  FrameStatusView v = view_;
  v.reports = reports_.load(std::memory_order_relaxed);
  return v;
}
