#pragma once
// The one 64-byte command buffer and its way to the frame. A sender fills
// the buffer and writes it; the buffer stays the sender's until the write
// completed, and the sender then pauses as the frame needs between commands.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "input/DeviceCommands.h"
#include "input/FrameChannel.h"

class CommandChannel {
 public:
  explicit CommandChannel(const FrameChannel& frame) : frame_(frame) {}

  enum class Outcome { kTaken, kRefused, kNoFrame };

  // Fills the buffer with `fill` and sends it; 1 if the frame took it, 0 if
  // no frame is open or the write was refused. Returns once the write
  // completed (or a second passed). Safe from any thread.
  template <class Fill>
  int Send(Fill fill) {
    return Deliver(fill) == Outcome::kTaken;
  }
  // As Send, telling a refusal from no frame; `sent` (if given) receives the
  // bytes as written.
  template <class Fill>
  Outcome Deliver(Fill fill, std::uint8_t* sent = nullptr) {
    std::lock_guard<std::mutex> lock(mutex_);
    fill(buffer_.data());
    const Outcome outcome = WriteBuffer();
    if (sent) std::copy(buffer_.begin(), buffer_.end(), sent);
    return outcome;
  }

  // The pause after a command (100 or 200 ms), scaled for tests.
  void Pause(std::uint32_t ms) const;
  // When a pause of `ms` begun now ends.
  std::chrono::steady_clock::time_point PauseEnd(std::uint32_t ms) const {
    return std::chrono::steady_clock::now() +
           std::chrono::duration_cast<std::chrono::steady_clock::duration>(
               std::chrono::duration<double, std::milli>(ms * pauseScale_.load()));
  }
  void SetPauseScale(double scale) { pauseScale_ = scale; }

 private:
  // Called with mutex_ held.
  Outcome WriteBuffer();

  const FrameChannel& frame_;
  // Guards the buffer from filling until its write completed. The buffer
  // keeps its contents between commands, as the frame's commands expect.
  std::mutex mutex_;
  std::array<std::uint8_t, kCommandSize> buffer_{};
  std::atomic<double> pauseScale_{1.0};
};
