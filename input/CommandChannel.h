#pragma once
// The one 64-byte command buffer and its way to the frame. A sender fills
// the buffer and writes it; the buffer stays the sender's until the write
// completed, and the sender then pauses as the frame needs between commands.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "input/DeviceCommands.h"
#include "input/FrameChannel.h"

class CommandChannel {
 public:
  explicit CommandChannel(const FrameChannel& frame) : frame_(frame) {}

  // Fills the buffer with `fill` and sends it; 1 if the frame took it, 0 if
  // no frame is open or the write was refused. Returns once the write
  // completed (or a second passed). Safe from any thread.
  template <class Fill>
  int Send(Fill fill) {
    std::lock_guard<std::mutex> lock(mutex_);
    fill(buffer_.data());
    return WriteBuffer();
  }

  // The pause after a command (100 or 200 ms), scaled for tests.
  void Pause(std::uint32_t ms) const;
  void SetPauseScale(double scale) { pauseScale_ = scale; }

 private:
  // Called with mutex_ held.
  int WriteBuffer();

  const FrameChannel& frame_;
  // Guards the buffer from filling until its write completed. The buffer
  // keeps its contents between commands, as the frame's commands expect.
  std::mutex mutex_;
  std::array<std::uint8_t, kCommandSize> buffer_{};
  std::atomic<double> pauseScale_{1.0};
};
