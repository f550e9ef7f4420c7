#pragma once
// The last failure of a HID handle or backend, as text. Every backend keeps
// its errors in one of these (the base classes in Hid.h own it), so callers
// read them the same way whatever the backend.
#include <atomic>
#include <mutex>
#include <string>

namespace platform {

class HidErrorRecord {
 public:
  // Records `text` (and traces it at debug level). False, so that a failing
  // call can end with `return error_.Fail(...)`. Leaves errno and the
  // thread's last Windows error as they were: callers may still read them.
  bool Fail(std::string text);
  // A call succeeded. Cheap when nothing is recorded (the per-report path).
  void Clear() {
    if (!set_.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> lock(m_);
    text_.clear();
    set_.store(false, std::memory_order_release);
  }
  std::string Text() const {
    std::lock_guard<std::mutex> lock(m_);
    return text_;
  }

 private:
  mutable std::mutex m_;  // guards the text
  std::string text_;
  std::atomic<bool> set_{false};
};

}  // namespace platform
