#include "input/CommandChannel.h"

#include <chrono>
#include <string>
#include <thread>

#include "platform/Trace.h"

namespace {

// How long a sender waits for its write to complete before it gives the
// buffer up; a frame completes a write within milliseconds.
constexpr std::uint32_t kWriteTimeoutMs = 1000;
// A command the frame refused goes again after 20 ms, then 40 ms: a lost
// "touch output on" would leave the frame silent until the next arrival.
constexpr int kWriteAttempts = 3;
constexpr std::uint32_t kRetryPauseMs = 20;

}  // namespace

CommandChannel::Outcome CommandChannel::WriteBuffer() {
  DeviceProfile profile;
  // The profile comes with the handle: senders on other threads than the
  // control side (the calibration dialog) never race a discovery. Every try
  // goes on this handle: a retry never reaches a frame opened since.
  const std::shared_ptr<platform::HidDevice> write = frame_.Writer(profile);
  if (!write) return Outcome::kNoFrame;
  buffer_[0] = CommandReportId(profile);
  for (int attempt = 1;; ++attempt) {
    // Each command waits for its own write alone: an earlier one that hung
    // or fails late is neither waited for nor charged to this one.
    if (const std::uint64_t id = write->Write(buffer_.data(), kCommandSize)) {
      const platform::HidIoStatus status = write->WaitWrite(id, kWriteTimeoutMs);
      if (status == platform::HidIoStatus::kTimedOut) {
        TRACE_WARN("write of command %02X %02X still in flight after %u ms", buffer_[0], buffer_[1],
                   static_cast<unsigned>(kWriteTimeoutMs));
        return Outcome::kTaken;
      }
      if (status == platform::HidIoStatus::kCompleted) return Outcome::kTaken;
    }
    const std::string why = write->LastError();
    frame_.RecordFault(FrameFault::kWriteRefused, why);
    if (frame_.Removed() || !frame_.Writes(write)) {
      // Its removal was notified, or it was closed: no frame to try again.
      TRACE_INFO("write refused: command %02X %02X: %s; the frame is gone", buffer_[0], buffer_[1],
                 why.c_str());
      return Outcome::kRefused;
    }
    if (attempt == kWriteAttempts) {
      TRACE_WARN("write refused: command %02X %02X: %s; given up after %d tries", buffer_[0],
                 buffer_[1], why.c_str(), kWriteAttempts);
      return Outcome::kRefused;
    }
    TRACE_WARN("write refused: command %02X %02X: %s; sending it again", buffer_[0], buffer_[1],
               why.c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(kRetryPauseMs * attempt));
  }
}

void CommandChannel::Pause(std::uint32_t ms) const {
  const double scaled = ms * pauseScale_.load();
  if (scaled > 0) std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(scaled));
}
