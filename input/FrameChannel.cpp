#include "input/FrameChannel.h"

#include <cstring>

#include "platform/Trace.h"

using platform::HidDevice;
using platform::HidIoStatus;

namespace {

void CloseHandle(std::shared_ptr<HidDevice>& h) {
  if (h) h->Close();
  h.reset();
}

}  // namespace

const char* ReaderName(ReaderRole role) {
  switch (role) {
    case kSingleReader:
      return "SingleReader";
    case kReplyReader:
      return "ReplyReader";
    default:
      return "TouchReader";
  }
}

bool FrameChannel::OpenHandles(const DevicePaths& paths, std::size_t index,
                               const DeviceProfile& profile) {
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
  if (IsSplitChannel(profile.VersionNumber)) {
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
    ++openGeneration_;
  }
  changed_.notify_all();
}

void FrameChannel::Close(const DeviceProfile& profile) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (IsSplitChannel(profile.VersionNumber)) {
    CloseHandle(channel_.replyRead);
    CloseHandle(channel_.touchRead);
  } else {
    CloseHandle(channel_.singleRead);
  }
  CloseHandle(channel_.write);
  channel_.open = false;
}

bool FrameChannel::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return channel_.open;
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

void FrameChannel::StartReaders(const DeviceProfile& profile) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return;
  const auto start = [this](ReaderRole role) {
    if (!readers_[role].joinable())
      readers_[role] = std::thread(&FrameChannel::ReaderLoop, this, role);
  };
  if (IsSplitChannel(profile.VersionNumber)) {
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
  // After a failed read the thread waits for the next open, not for the
  // same channel again: a frame that left fails every read at once.
  std::uint64_t generation = 0;
  bool failed = false;
  for (;;) {
    std::shared_ptr<HidDevice> handle;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] {
        return stopping_ ||
               (channel_.open && HandleFor(role) && !(failed && generation == openGeneration_));
      });
      if (stopping_) return;
      handle = HandleFor(role);
      generation = openGeneration_;
      failed = false;
    }
    if (role != kSingleReader) std::memset(buffer, 0, platform::kReportSize);
    std::size_t bytes = 0;
    HidIoStatus status = HidIoStatus::kFailed;
    if (handle->StartRead(buffer)) status = handle->WaitRead(platform::kWaitForever, bytes);
    if (status != HidIoStatus::kCompleted) RecordFault(FrameFault::ReadError, handle->LastError());
    bool open;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (status != HidIoStatus::kCompleted) {
        failed = true;
        TRACE_INFO("%s: read failed, waiting for the next open", ReaderName(role));
        continue;
      }
      open = channel_.open && !stopping_;
    }
    if (!open || bytes != platform::kReportSize) continue;
    router_.Route(role, buffer);
  }
}
