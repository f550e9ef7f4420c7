#pragma once
// An in-process HID backend for the pipeline's tests: interfaces are plain
// records, input reports are queued by the test, output reports are
// recorded. Reads, closes and waits behave as the seam promises (a close
// completes a pending read at once; one read outstanding per handle).
#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Hid.h"
#include "tests/support/CatalogueFrames.h"
#include "tests/support/WaitFor.h"

class MemoryHid : public platform::HidBackend {
 public:
  using Report = std::array<std::uint8_t, 64>;
  struct Written {
    std::string path;
    Report bytes;
  };

  // ---- what the test sets up ------------------------------------------------
  void Plug(const platform::HidInterfaceInfo& info, bool notify = true) {
    platform::HidChangeCallback cb;
    {
      std::lock_guard<std::mutex> lock(mu_);
      interfaces_.push_back(info);
      cb = callback_;
    }
    if (notify && cb) cb(platform::HidChange::kArrival, info.path);
  }
  // Every interface of a frame of the catalogue, collection by collection.
  void PlugFrame(const testframes::Frame& frame, bool notify = true) {
    for (const platform::HidInterfaceInfo& info : testframes::Interfaces({frame}))
      Plug(info, notify);
  }
  // Removes the interface; its open handles fail their reads.
  void Unplug(const std::string& path, bool notify = true) {
    platform::HidChangeCallback cb;
    {
      std::lock_guard<std::mutex> lock(mu_);
      interfaces_.erase(std::remove_if(interfaces_.begin(), interfaces_.end(),
                                       [&](const auto& i) { return i.path == path; }),
                        interfaces_.end());
      gone_[path] = true;
      cb = callback_;
    }
    cv_.notify_all();
    if (notify && cb) cb(platform::HidChange::kRemoval, path);
  }
  // A notification alone, as the system may word it (another case, say).
  void Notify(platform::HidChange change, const std::string& name) {
    platform::HidChangeCallback cb;
    {
      std::lock_guard<std::mutex> lock(mu_);
      cb = callback_;
    }
    if (cb) cb(change, name);
  }
  // Queues an input report on an interface; readers of it receive it.
  void Inject(const std::string& path, const Report& r) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      inputs_[path].push_back(r);
    }
    cv_.notify_all();
  }
  // The next `n` writes are refused (as a frame busy after a wake does);
  // Refused() counts the writes refused so far, the gone frames' too.
  void RefuseWrites(int n) {
    std::lock_guard<std::mutex> lock(mu_);
    refuseWrites_ = n;
  }
  int Refused() const {
    std::lock_guard<std::mutex> lock(mu_);
    return refused_;
  }
  // The next accepted write stays in flight (a frame that hangs on it) until
  // EndHeldWrite ends it, taken (`ok`) or refused late.
  void HoldNextWrite() {
    std::lock_guard<std::mutex> lock(mu_);
    holdNext_ = true;
  }
  void EndHeldWrite(bool ok) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      held_.ended = true;
      held_.ok = ok;
    }
    cv_.notify_all();
  }
  std::vector<Written> Writes() const {
    std::lock_guard<std::mutex> lock(mu_);
    return writes_;
  }
  void ClearWrites() {
    std::lock_guard<std::mutex> lock(mu_);
    writes_.clear();
  }
  int OpenHandles() const {
    std::lock_guard<std::mutex> lock(mu_);
    return openHandles_;
  }
  int PendingReads() const {
    std::lock_guard<std::mutex> lock(mu_);
    return pendingReads_;
  }
  // Reads outstanding on one interface.
  int PendingReads(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = pendingByPath_.find(path);
    return it == pendingByPath_.end() ? 0 : it->second;
  }
  // Polls until `pred` holds (it may ask anything, this backend's lock is
  // not held), or `ms` pass.
  template <class Pred>
  bool WaitFor(Pred pred, int ms = 3000) {
    return testsupport::WaitFor([&] { return pred(*this); }, ms);
  }
  std::size_t Queued(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = inputs_.find(path);
    return it == inputs_.end() ? 0 : it->second.size();
  }

  // ---- the seam -------------------------------------------------------------
  std::vector<platform::HidInterfaceInfo> Enumerate() override {
    std::lock_guard<std::mutex> lock(mu_);
    return interfaces_;
  }
  std::unique_ptr<platform::HidDevice> Open(const std::string& path, platform::HidAccess access,
                                            platform::HidShare) override {
    std::lock_guard<std::mutex> lock(mu_);
    const bool present = std::any_of(interfaces_.begin(), interfaces_.end(),
                                     [&](const auto& i) { return i.path == path; });
    if (!present) return nullptr;
    gone_[path] = false;
    ++openHandles_;
    return std::make_unique<Device>(*this, path, access);
  }
  bool SetChangeCallback(platform::HidChangeCallback cb) override {
    std::lock_guard<std::mutex> lock(mu_);
    callback_ = std::move(cb);
    return true;
  }
  std::string Describe() const override { return "memory"; }

 private:
  class Device : public platform::HidDevice {
   public:
    Device(MemoryHid& hid, std::string path, platform::HidAccess access)
        : hid_(hid), path_(std::move(path)), access_(access) {}
    ~Device() override { Close(); }

    bool StartRead(std::uint8_t* buffer) override {
      std::lock_guard<std::mutex> lock(hid_.mu_);
      if (closed_ || !(access_ & platform::kHidRead) || buffer_) return false;
      buffer_ = buffer;
      ++hid_.pendingReads_;
      ++hid_.pendingByPath_[path_];
      hid_.cv_.notify_all();
      return true;
    }
    platform::HidIoStatus WaitRead(std::uint32_t timeoutMs, std::size_t& bytes) override {
      std::unique_lock<std::mutex> lock(hid_.mu_);
      if (!buffer_) return platform::HidIoStatus::kFailed;
      auto& queue = hid_.inputs_[path_];
      const auto ready = [&] { return closed_ || hid_.gone_[path_] || !queue.empty(); };
      if (timeoutMs == platform::kWaitForever) {
        hid_.cv_.wait(lock, ready);
      } else if (!hid_.cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        return platform::HidIoStatus::kTimedOut;
      }
      --hid_.pendingReads_;
      --hid_.pendingByPath_[path_];
      std::uint8_t* buffer = buffer_;
      buffer_ = nullptr;
      hid_.cv_.notify_all();
      if (closed_ || hid_.gone_[path_]) return platform::HidIoStatus::kFailed;
      std::copy(queue.front().begin(), queue.front().end(), buffer);
      queue.pop_front();
      bytes = 64;
      return platform::HidIoStatus::kCompleted;
    }
    bool ReadPending() const override {
      std::lock_guard<std::mutex> lock(hid_.mu_);
      return buffer_ != nullptr;
    }
    void CancelRead() override {
      std::lock_guard<std::mutex> lock(hid_.mu_);
      if (buffer_) {
        --hid_.pendingReads_;
        --hid_.pendingByPath_[path_];
      }
      buffer_ = nullptr;
    }
    std::uint64_t Write(const std::uint8_t* report, std::size_t length) override {
      std::lock_guard<std::mutex> lock(hid_.mu_);
      const bool refuse = hid_.refuseWrites_ > 0;
      if (closed_ || !(access_ & platform::kHidWrite) || hid_.gone_[path_] || length != 64 ||
          refuse) {
        hid_.refuseWrites_ -= refuse;
        ++hid_.refused_;
        return 0;
      }
      Written w{path_, {}};
      std::copy(report, report + 64, w.bytes.begin());
      hid_.writes_.push_back(w);
      if (hid_.holdNext_) hid_.held_ = {this, writesIssued_ + 1, false, false};
      hid_.holdNext_ = false;
      hid_.cv_.notify_all();
      return ++writesIssued_;
    }
    // Every write but the held one completes at once.
    platform::HidIoStatus WaitWrite(std::uint64_t id, std::uint32_t timeoutMs) override {
      std::unique_lock<std::mutex> lock(hid_.mu_);
      if (id == 0 || id > writesIssued_) return platform::HidIoStatus::kFailed;
      if (hid_.held_.device != this || hid_.held_.id != id)
        return platform::HidIoStatus::kCompleted;
      const auto ended = [&] { return hid_.held_.ended || closed_; };
      if (!hid_.cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended))
        return platform::HidIoStatus::kTimedOut;
      return hid_.held_.ended && hid_.held_.ok ? platform::HidIoStatus::kCompleted
                                               : platform::HidIoStatus::kFailed;
    }
    bool GetFeature(std::uint8_t*, std::size_t) override { return false; }
    bool SetFeature(const std::uint8_t*, std::size_t) override { return false; }
    platform::HidCaps Caps() const override { return {64, 64, 0}; }
    const std::string& Path() const override { return path_; }
    void Close() override {
      std::lock_guard<std::mutex> lock(hid_.mu_);
      if (closed_) return;
      closed_ = true;
      --hid_.openHandles_;
      hid_.cv_.notify_all();
    }
    bool IsOpen() const override {
      std::lock_guard<std::mutex> lock(hid_.mu_);
      return !closed_;
    }

   private:
    MemoryHid& hid_;
    std::string path_;
    platform::HidAccess access_;
    std::uint8_t* buffer_ = nullptr;
    bool closed_ = false;
    std::uint64_t writesIssued_ = 0;
  };

  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::vector<platform::HidInterfaceInfo> interfaces_;
  std::map<std::string, std::deque<Report>> inputs_;
  std::map<std::string, bool> gone_;
  std::vector<Written> writes_;
  platform::HidChangeCallback callback_;
  int openHandles_ = 0;
  int pendingReads_ = 0;
  int refuseWrites_ = 0, refused_ = 0;
  bool holdNext_ = false;
  struct Held {
    const Device* device = nullptr;
    std::uint64_t id = 0;
    bool ended = false, ok = false;
  } held_;
  std::map<std::string, int> pendingByPath_;
};
