#pragma once
// Device-change notifications on their way from the HID backend's thread to
// a worker of their own. The notifications that queue up while one pass runs
// are the next pass, so a bouncing device costs a few passes, not one each.
// The same worker runs what other threads ask of the control side without
// waiting for it (a reader that gave the frame up, a wake from sleep), and
// looks for a lost frame at a steady pace.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "input/FrameSession.h"

class DeviceChangeQueue {
 public:
  // What a pass is asked to do besides the notifications, as bits.
  enum Request : unsigned {
    kReadsFailed = 1,  // a reader gave the open frame up
    kResume = 2,       // the system woke from sleep
    kLookAgain = 4,    // the look-again period passed
  };
  using Pass = std::function<void(const DeviceChangeBatch&, unsigned requests)>;

  explicit DeviceChangeQueue(Pass pass) : pass_(std::move(pass)) {}
  ~DeviceChangeQueue() { Stop(); }
  DeviceChangeQueue(const DeviceChangeQueue&) = delete;
  DeviceChangeQueue& operator=(const DeviceChangeQueue&) = delete;

  void Start();
  // On the backend's thread; never waits for a pass.
  void Post(platform::HidChange change, const std::string& name);
  // Any thread; never waits for a pass.
  void Request(unsigned what);
  // While `ms` is not 0 a pass with kLookAgain runs every `ms`; from the pass.
  void LookAgainEvery(std::uint32_t ms);
  // Joins the worker; later posts are never handled. Safe to call twice.
  void Stop();

 private:
  void Loop();

  const Pass pass_;
  // Guards the queue and the stop flag.
  std::mutex mutex_;
  std::condition_variable queued_;
  DeviceChangeBatch changes_;
  unsigned requests_ = 0;
  std::uint32_t lookAgainMs_ = 0;
  bool stop_ = false;
  std::thread worker_;
};
