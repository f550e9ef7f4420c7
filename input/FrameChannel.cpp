#include "input/FrameChannel.h"

#include <chrono>
#include <cstring>

#include "platform/Clock.h"
#include "platform/Trace.h"

using platform::HidDevice;
using platform::HidIoStatus;

namespace {

void CloseHandle(std::shared_ptr<HidDevice>& h) {
  if (h) h->Close();
  h.reset();
}

}  // namespace

ReadRetry::Failure ReadRetry::OnFailure(std::uint32_t nowMs) {
  Failure f{};
  f.first = !failing_;
  if (f.first) {
    failing_ = true;
    since_ = nowMs;
    pause_ = kFirstPauseMs;
  } else {
    pause_ = pause_ * 2 < kLongestPauseMs ? pause_ * 2 : kLongestPauseMs;
  }
  ++failures_;
  const std::uint32_t elapsed = nowMs - since_;
  f.pauseMs = pause_;
  if (!goneSaid_) {
    if (elapsed >= kGoneAfterMs) {
      f.gone = goneSaid_ = true;
    } else if (kGoneAfterMs - elapsed < f.pauseMs) {
      f.pauseMs = kGoneAfterMs - elapsed;  // the next read decides it on time
    }
  }
  return f;
}

bool ReadRetry::OnSuccess(std::uint32_t nowMs, std::uint32_t& failedMs, unsigned& failures) {
  if (!failing_) return false;
  failedMs = nowMs - since_;
  failures = failures_;
  Reset();
  return true;
}

const char* ReaderName(ReaderRole role) {
#define READER_NAME(name) #name,
  static constexpr const char* kNames[kReaderCount] = {READER_ROLE_LIST(READER_NAME)};
#undef READER_NAME
  return static_cast<unsigned>(role) < unsigned(kReaderCount) ? kNames[role] : "?";
}

bool FrameChannel::OpenHandles(const DevicePaths& paths, std::size_t index) {
  const auto open = [this](const std::string& path, platform::HidAccess access) {
    if (path.empty()) {
      TRACE_ERROR("open failed: the frame lacks a collection it needs (\"col03\"/\"col04\")");
      return std::shared_ptr<HidDevice>();
    }
    std::shared_ptr<HidDevice> device(hid_.Open(path, access, platform::HidShare::kShared));
    if (!device) {
      TRACE_ERROR("open failed: %s for %s: %s", path.c_str(),
                  access == platform::kHidRead ? "reading" : "writing", hid_.LastError().c_str());
    }
    return device;
  };
  const std::string& path = paths.path[index < kMaxDevicePaths ? index : 0];
  if (IsSplitChannel(Profile().VersionNumber)) {
    auto reply = open(paths.replyPath, platform::kHidRead);
    auto touch = open(paths.touchPath, platform::kHidRead);
    auto write = open(path, platform::kHidWrite);
    const bool complete = reply && touch && write;
    std::lock_guard<std::mutex> lock(mutex_);
    channel_.replyRead = std::move(reply);
    channel_.touchRead = std::move(touch);
    channel_.write = std::move(write);
    return complete;
  }
  auto single = open(path, platform::kHidRead);
  auto write = open(path, platform::kHidWrite);
  const bool complete = single && write;
  std::lock_guard<std::mutex> lock(mutex_);
  channel_.singleRead = std::move(single);
  channel_.write = std::move(write);
  return complete;
}

void FrameChannel::MarkOpen() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    channel_.open = true;
    removed_ = false;
    ++openGeneration_;
    openWord_.store(openGeneration_ * 2 + 1, std::memory_order_release);
  }
  changed_.notify_all();
}

void FrameChannel::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (IsSplitChannel(profile_.VersionNumber)) {
    CloseHandle(channel_.replyRead);
    CloseHandle(channel_.touchRead);
  } else {
    CloseHandle(channel_.singleRead);
  }
  CloseHandle(channel_.write);
  channel_.open = false;
  openWord_.store(openGeneration_ * 2, std::memory_order_release);
}

bool FrameChannel::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return channel_.open;
}

bool FrameChannel::ReadsFailed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return channel_.open && failedGeneration_ == openGeneration_;
}

void FrameChannel::SetProfile(const DeviceProfile& profile) {
  std::lock_guard<std::mutex> lock(mutex_);
  profile_ = profile;
}

DeviceProfile FrameChannel::Profile() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return profile_;
}

std::shared_ptr<HidDevice> FrameChannel::Writer(DeviceProfile& profile) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!channel_.open || !channel_.write) return nullptr;
  profile = profile_;
  return channel_.write;
}

bool FrameChannel::Writes(const std::shared_ptr<HidDevice>& write) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return channel_.open && channel_.write == write;
}

std::uint64_t FrameChannel::OpenGeneration() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return openGeneration_;
}

void FrameChannel::MarkRemoved() {
  std::lock_guard<std::mutex> lock(mutex_);
  removed_ = true;
}

bool FrameChannel::Removed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return removed_;
}

void FrameChannel::StartReaders() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return;
  const auto start = [this](ReaderRole role) {
    if (!readers_[role].joinable())
      readers_[role] = std::thread(&FrameChannel::ReaderLoop, this, role);
  };
  if (IsSplitChannel(profile_.VersionNumber)) {
    if (readers_[kTouchReader].joinable()) return;
    start(kReplyReader);
    start(kTouchReader);
  } else {
    start(kSingleReader);
  }
}

void FrameChannel::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    // Closing completes any pending read at once.
    CloseHandle(channel_.singleRead);
    CloseHandle(channel_.replyRead);
    CloseHandle(channel_.touchRead);
    CloseHandle(channel_.write);
    channel_.open = false;
    openWord_.store(openGeneration_ * 2, std::memory_order_release);
  }
  changed_.notify_all();
  for (std::thread& t : readers_) {
    if (t.joinable()) t.join();
  }
}

std::shared_ptr<HidDevice> FrameChannel::HandleFor(ReaderRole role) const {
  switch (role) {
    case kSingleReader:
      return channel_.singleRead;
    case kReplyReader:
      return channel_.replyRead;
    default:
      return channel_.touchRead;
  }
}

void FrameChannel::ReaderLoop(ReaderRole role) {
  std::array<std::uint8_t, platform::kReportSize> own{};
  std::uint8_t* buffer = role == kSingleReader ? singleBuffer_.data() : own.data();
  std::uint64_t generation = 0;
  ReadRetry retry;
  std::uint32_t pauseMs = 0;
  std::shared_ptr<HidDevice> handle;
  DeviceProfile profile;  // comes with the handle: a discovery never races a report
  for (;;) {
    // While the open this reader read from stays open, its handle and
    // profile stay too: the next read needs no lock.
    if (pauseMs != 0 || !handle ||
        openWord_.load(std::memory_order_acquire) != generation * 2 + 1) {
      handle.reset();
      std::unique_lock<std::mutex> lock(mutex_);
      // A read that failed on a channel still open is issued again after a
      // pause (a glitch, a wake from sleep); a close or a new open ends it.
      if (pauseMs != 0) {
        changed_.wait_for(lock, std::chrono::milliseconds(pauseMs), [&] {
          return stopping_ || !channel_.open || generation != openGeneration_;
        });
        pauseMs = 0;
      }
      changed_.wait(lock, [&] { return stopping_ || (channel_.open && HandleFor(role)); });
      if (stopping_) return;
      handle = HandleFor(role);
      profile = profile_;
      if (generation != openGeneration_) retry.Reset();
      generation = openGeneration_;
    }
    if (role != kSingleReader) std::memset(buffer, 0, platform::kReportSize);
    std::size_t bytes = 0;
    HidIoStatus status = HidIoStatus::kFailed;
    if (handle->StartRead(buffer)) status = handle->WaitRead(platform::kWaitForever, bytes);
    if (status != HidIoStatus::kCompleted) RecordFault(FrameFault::kReadError, handle->LastError());
    // Closed here (or stopping, which closes): the next open is waited for.
    if (openWord_.load(std::memory_order_acquire) != generation * 2 + 1) continue;
    if (status != HidIoStatus::kCompleted) {
      const ReadRetry::Failure f = retry.OnFailure(platform::TickCount());
      pauseMs = f.pauseMs;
      if (f.first) router_.OnReadFault(role, ReadFault::kFailing, 0, 1, handle->LastError());
      if (f.gone) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          if (generation == openGeneration_) failedGeneration_ = generation;
        }
        router_.OnReadFault(role, ReadFault::kGone, ReadRetry::kGoneAfterMs, 0,
                            handle->LastError());
      }
      continue;
    }
    std::uint32_t failedMs = 0;
    unsigned failures = 0;
    // The clock is read only after failures, not per report.
    if (retry.Failing() && retry.OnSuccess(platform::TickCount(), failedMs, failures))
      router_.OnReadFault(role, ReadFault::kRecovered, failedMs, failures, std::string());
    if (bytes != platform::kReportSize) continue;  // a short report is dropped
    router_.Route(role, profile, generation, buffer);
  }
}
