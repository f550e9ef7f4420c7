#include "calibration/CalibrationReplyQueue.h"

#include <cstring>

void CalibrationReplyQueue::Open(std::function<void()> wake) {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_.clear();
  wake_ = std::move(wake);
}

void CalibrationReplyQueue::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  wake_ = nullptr;
  pending_.clear();
}

bool CalibrationReplyQueue::Post(const std::uint8_t* report) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!wake_) return false;
  pending_.emplace_back();
  std::memcpy(pending_.back().data(), report, pending_.back().size());
  wake_();
  return true;
}

bool CalibrationReplyQueue::Take(Report& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pending_.empty()) return false;
  out = pending_.front();
  pending_.pop_front();
  return true;
}
