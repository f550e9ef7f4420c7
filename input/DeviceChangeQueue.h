#pragma once
// Device-change notifications on their way from the HID backend's thread to
// a worker of their own. The notifications that queue up while one pass runs
// are the next pass, so a bouncing device costs a few passes, not one each.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "input/FrameSession.h"

class DeviceChangeQueue {
 public:
  using Pass = std::function<void(const DeviceChangeBatch&)>;

  explicit DeviceChangeQueue(Pass pass) : pass_(std::move(pass)) {}
  ~DeviceChangeQueue() { Stop(); }
  DeviceChangeQueue(const DeviceChangeQueue&) = delete;
  DeviceChangeQueue& operator=(const DeviceChangeQueue&) = delete;

  void Start();
  // On the backend's thread; never waits for a pass.
  void Post(platform::HidChange change, const std::string& name);
  // Joins the worker; later posts are never handled. Safe to call twice.
  void Stop();

 private:
  void Loop();

  const Pass pass_;
  // Guards the queue and the stop flag.
  std::mutex mutex_;
  std::condition_variable queued_;
  DeviceChangeBatch changes_;
  bool stop_ = false;
  std::thread worker_;
};
