#pragma once
// The frame's replies on their way from a reader thread to the calibration
// dialog on the window thread. The reader posts a copy and goes back to
// reading: it never waits for a window (a message box, a busy window thread).
// The window takes the copies in the order they arrived.
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

class CalibrationReplyQueue {
 public:
  using Report = std::array<std::uint8_t, 64>;

  // The dialog is up: posts are accepted and each one calls `wake` (on the
  // posting thread, under the queue's lock; it must not block).
  void Open(std::function<void()> wake);
  // The dialog is gone: later posts are dropped, pending ones discarded.
  void Close();
  // Reader thread: false when the dialog is not up.
  bool Post(const std::uint8_t* report);
  // Window thread: the oldest pending reply.
  bool Take(Report& out);

 private:
  // Guards the wake-up and the pending replies.
  std::mutex mutex_;
  std::function<void()> wake_;
  std::deque<Report> pending_;
};
