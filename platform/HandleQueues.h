#pragma once
// What an open HID handle keeps between the thread that feeds it and its
// caller, for the backends that play the HID class driver's part themselves
// (the simulator's link, hidraw): one read at a time into the caller's
// buffer, input reports that arrive meanwhile in a ring of 32 (the oldest
// dropped when it is full, as the driver does), and accepted writes in a
// ring of 32 that the backend's writer thread completes in order. One mutex
// guards it all; the backends guard their own state with it too.
// Refusals are recorded in the handle's error record as "<path>: <why>".
// QueuedHidDevice (below) is such a backend's HidDevice: the calls that only
// forward to the queues, written once.
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Hid.h"
#include "platform/WriteLedger.h"

namespace platform {

class HandleQueues {
 public:
  static constexpr int kRing = 32;
  struct Out {
    std::array<std::uint8_t, kReportSize> bytes;
    std::size_t length;
  };
  static_assert(kRing <= WriteLedger::kKept / 2, "a queued write's fate stays known");

 protected:
  // `errors` is the handle's own record (HidDevice::error_).
  HandleQueues(HidErrorRecord& errors, std::string path)
      : path_(std::move(path)), errors_(errors) {}

  // Records "<path>: <why>"; false.
  bool Refuse(const char* why) { return errors_.Fail(path_ + ": " + why); }

  // HidDevice's read side; the caller checked that the handle may read.
  bool BeginRead(std::uint8_t* buffer) {
    std::lock_guard<std::mutex> lock(m_);
    if (!open_) return Refuse("the handle is closed");
    if (gone_) return Refuse("the device was removed");
    if (readPending_) return Refuse("a read is already outstanding");
    errors_.Clear();
    readPending_ = true;
    readDone_ = false;
    readFailed_ = false;
    readLength_ = 0;
    readBuf_ = buffer;
    if (readErrors_ > 0) {  // the read completes with an error; reports wait
      --readErrors_;
      readDone_ = readFailed_ = true;
    } else if (ringCount_ > 0) {  // a report is already waiting
      std::memcpy(buffer, ring_[ringHead_].data(), kReportSize);
      readLength_ = ringLength_[ringHead_];
      ringHead_ = (ringHead_ + 1) % kRing;
      --ringCount_;
      readDone_ = true;
    }
    return true;
  }
  // A completed read reports `length` bytes.
  HidIoStatus EndRead(std::uint32_t timeoutMs, std::size_t& bytesRead, std::size_t length) {
    std::unique_lock<std::mutex> lock(m_);
    bytesRead = 0;
    if (!readPending_) return Refuse("no read outstanding"), HidIoStatus::kFailed;
    if (!WaitFor(lock, timeoutMs, [this] { return readDone_ || !open_ || gone_; })) {
      errors_.Clear();
      return HidIoStatus::kTimedOut;
    }
    readPending_ = false;
    readBuf_ = nullptr;
    if (!readDone_)
      return Refuse(open_ ? "the device was removed" : "the handle is closed"),
             HidIoStatus::kFailed;
    if (readFailed_) return Refuse("the read completed with an error"), HidIoStatus::kFailed;
    errors_.Clear();
    bytesRead = readLength_ != 0 && readLength_ < length ? readLength_ : length;
    return HidIoStatus::kCompleted;
  }
  bool ReadOutstanding() const {
    std::lock_guard<std::mutex> lock(m_);
    return readPending_;
  }
  void DropRead() {
    std::lock_guard<std::mutex> lock(m_);
    readPending_ = false;
    readDone_ = false;
    readBuf_ = nullptr;
    cv_.notify_all();
  }
  HidIoStatus AwaitWrite(std::uint64_t id, std::uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(m_);
    WaitFor(lock, timeoutMs, [&] { return writes_.Status(id) != HidIoStatus::kTimedOut; });
    const HidIoStatus status = writes_.Status(id);
    // A failed write's reason was recorded when the backend learnt of it.
    if (status != HidIoStatus::kFailed)
      errors_.Clear();
    else if (errors_.Text().empty())
      Refuse("the write failed after it was accepted");
    return status;
  }
  bool Opened() const {
    std::lock_guard<std::mutex> lock(m_);
    return open_;
  }
  // Ends the handle for every waiter; false if it was closed already.
  bool MarkClosed() {
    std::lock_guard<std::mutex> lock(m_);
    if (!open_) return false;
    open_ = false;
    cv_.notify_all();
    return true;
  }

  // ---- with m_ held --------------------------------------------------------
  // One input report (zero-padded): into the outstanding read, or the ring.
  // A `shortLength` of 1 and up is a report that arrived cut short: its
  // read completes with that many bytes.
  void DeliverLocked(const std::uint8_t* report, std::size_t length, std::size_t shortLength = 0) {
    const std::size_t n = length < kReportSize ? length : kReportSize;
    std::uint8_t* to;
    if (readPending_ && !readDone_) {
      to = readBuf_;
      readLength_ = shortLength;
      readDone_ = true;
    } else {
      if (ringCount_ == kRing) ringHead_ = (ringHead_ + 1) % kRing, --ringCount_;
      const int slot = (ringHead_ + ringCount_) % kRing;
      to = ring_[slot].data();
      ringLength_[slot] = shortLength;
      ++ringCount_;
    }
    std::memcpy(to, report, n);
    std::memset(to + n, 0, kReportSize - n);
    cv_.notify_all();
  }
  // Accepts a write of `length` bytes that goes out as `sendLength` (zero-
  // padded); its number, or 0 while 32 are waiting for the writer.
  std::uint64_t QueueWriteLocked(const std::uint8_t* report, std::size_t length,
                                 std::size_t sendLength) {
    if (queued_ == kRing) return 0;
    Out& o = out_[(outHead_ + queued_) % kRing];
    o.bytes.fill(0);
    std::memcpy(o.bytes.data(), report, length);
    o.length = sendLength;
    ++queued_;
    cv_.notify_all();
    return writes_.Issue();
  }
  // The next `count` reads complete with an error (the outstanding one at
  // once); the handle stays open and reports keep waiting in the ring.
  void FailReadsLocked(unsigned count) {
    readErrors_ += count;
    if (readErrors_ > 0 && readPending_ && !readDone_) {
      --readErrors_;
      readDone_ = readFailed_ = true;
      cv_.notify_all();
    }
  }
  // The oldest write in flight completed (`ok`), or failed after it was
  // accepted: the writer sends them in order, and the device ends them so.
  void WriteDoneLocked(bool ok) {
    writes_.EndOldest(ok);
    cv_.notify_all();
  }
  // No write will complete any more: those in flight failed.
  void ClearWritesLocked() {
    writes_.FailAll();
    cv_.notify_all();
  }

  // The writer thread: the next accepted write, or false once the handle
  // closed or the device went.
  bool NextWrite(Out& o) {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [this] { return queued_ > 0 || !open_ || gone_; });
    if (!open_ || gone_) return false;
    o = out_[outHead_];
    outHead_ = (outHead_ + 1) % kRing;
    --queued_;
    return true;
  }

  template <class Pred>
  bool WaitFor(std::unique_lock<std::mutex>& lock, std::uint32_t timeoutMs, Pred pred) {
    if (timeoutMs == kWaitForever) {
      cv_.wait(lock, pred);
      return true;
    }
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), pred);
  }

  const std::string path_;
  HidErrorRecord& errors_;
  // Guards everything below: the handle's state, the read and both rings.
  mutable std::mutex m_;
  std::condition_variable cv_;
  bool open_ = true, gone_ = false;

 private:
  bool readPending_ = false, readDone_ = false, readFailed_ = false;
  unsigned readErrors_ = 0;     // reads still to fail
  std::size_t readLength_ = 0;  // of the completed read, when cut short
  std::uint8_t* readBuf_ = nullptr;
  std::array<std::array<std::uint8_t, kReportSize>, kRing> ring_{};
  std::array<std::size_t, kRing> ringLength_{};
  int ringHead_ = 0, ringCount_ = 0;
  std::array<Out, kRing> out_{};
  int outHead_ = 0, queued_ = 0;
  WriteLedger writes_;  // accepted writes, queued or with the device
};

// A handle of such a backend. The backend adds how a write is checked and
// queued, its feature requests, the threads that feed and drain the queues,
// and what makes them end at a close; its destructor calls Close(), since
// those threads use its members.
class QueuedHidDevice : public HidDevice, protected HandleQueues {
 public:
  bool StartRead(std::uint8_t* buffer) final {
    if (!(access_ & kHidRead)) return Deny(EBADF, "the handle was not opened for reading");
    return BeginRead(buffer);
  }
  HidIoStatus WaitRead(std::uint32_t timeoutMs, std::size_t& bytesRead) final {
    return EndRead(timeoutMs, bytesRead, readLength_);
  }
  bool ReadPending() const final { return ReadOutstanding(); }
  void CancelRead() final { DropRead(); }

  HidIoStatus WaitWrite(std::uint64_t id, std::uint32_t timeoutMs) final {
    return AwaitWrite(id, timeoutMs);
  }

  bool GetFeature(std::uint8_t* buffer, std::size_t length) final {
    return Feature(false, buffer, length);
  }
  bool SetFeature(const std::uint8_t* buffer, std::size_t length) final {
    return Feature(true, const_cast<std::uint8_t*>(buffer), length);
  }

  HidCaps Caps() const final { return caps_; }
  const std::string& Path() const final { return path_; }
  bool IsOpen() const final { return Opened(); }

  // The first call ends the handle for every waiter, then its threads.
  void Close() final {
    if (!MarkClosed()) return;
    Ending();
    std::lock_guard<std::mutex> join(joinMutex_);
    if (receiver_.joinable()) receiver_.join();
    if (writer_.joinable()) writer_.join();
  }

 protected:
  // A completed read gives `readLength` bytes (a report cut short, fewer).
  QueuedHidDevice(std::string path, unsigned access, HidCaps caps, std::size_t readLength)
      : HandleQueues(error_, std::move(path)),
        access_(access),
        caps_(caps),
        readLength_(readLength) {}

  // A refusal; a backend whose system keeps its own code (errno) also
  // leaves `systemCode` there.
  virtual bool Deny(int /*systemCode*/, const char* why) { return Refuse(why); }
  // GetFeature (`set` false: the answer fills `buffer`) or SetFeature.
  virtual bool Feature(bool set, std::uint8_t* buffer, std::size_t length) = 0;
  // Once, at the first Close(), after the handle is marked closed and before
  // its threads are joined: what else makes them end.
  virtual void Ending() = 0;

  const unsigned access_;  // HidAccess bits
  const HidCaps caps_;
  // Started by the backend's constructor (either may be left unstarted),
  // joined by Close().
  std::thread receiver_, writer_;

 private:
  const std::size_t readLength_;
  std::mutex joinMutex_;  // the threads joined once
};

}  // namespace platform
