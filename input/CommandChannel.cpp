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

int CommandChannel::WriteBuffer() {
  for (int attempt = 1;; ++attempt) {
    DeviceProfile profile;
    // The profile comes with the handle: senders on other threads than the
    // control side (the calibration dialog, a reader after a read-back)
    // never race a discovery.
    const std::shared_ptr<platform::HidDevice> write = frame_.Writer(profile);
    if (!write) return 0;
    buffer_[0] = CommandReportId(profile);
    // Only this channel writes on the handle, and one write at a time: a
    // failure counted between the write and its wait is this write's.
    const std::uint64_t failedBefore = write->FailedWrites();
    if (write->Write(buffer_.data(), kCommandSize)) {
      write->WaitWritesDone(kWriteTimeoutMs);
      if (write->FailedWrites() == failedBefore) return 1;
    }
    const std::string why = write->LastError();
    frame_.RecordFault(FrameFault::kWriteRefused, why);
    if (attempt == kWriteAttempts) {
      TRACE_WARN("write refused: command %02X %02X: %s; given up after %d tries", buffer_[0],
                 buffer_[1], why.c_str(), kWriteAttempts);
      return 0;
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
