#include "input/CommandChannel.h"

#include <chrono>
#include <thread>

#include "platform/Trace.h"

namespace {

// How long a sender waits for its write to complete before it gives the
// buffer up; a frame completes a write within milliseconds.
constexpr std::uint32_t kWriteTimeoutMs = 1000;

}  // namespace

int CommandChannel::WriteBuffer() {
  DeviceProfile profile;
  // The profile comes with the handle: senders on other threads than the
  // control side (the calibration dialog, a reader after a read-back) never
  // race a discovery.
  const std::shared_ptr<platform::HidDevice> write = frame_.Writer(profile);
  if (!write) return 0;
  buffer_[0] = CommandReportId(profile);
  if (!write->Write(buffer_.data(), kCommandSize)) {
    TRACE_WARN("write refused: command %02X %02X: %s", buffer_[0], buffer_[1],
               write->LastError().c_str());
    frame_.RecordFault(FrameFault::kWriteRefused, write->LastError());
    return 0;
  }
  write->WaitWritesDone(kWriteTimeoutMs);
  return 1;
}

void CommandChannel::Pause(std::uint32_t ms) const {
  const double scaled = ms * pauseScale_.load();
  if (scaled > 0) std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(scaled));
}
