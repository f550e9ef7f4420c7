#include "input/DeviceChangeQueue.h"

#include <chrono>

void DeviceChangeQueue::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!worker_.joinable() && !stop_) worker_ = std::thread(&DeviceChangeQueue::Loop, this);
}

void DeviceChangeQueue::Post(platform::HidChange change, const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  // A repeat of a queued notification moves it to the back: a pass reads
  // which interfaces arrived or went and which came last, and the queue
  // stays as short as the interfaces are few however fast a device bounces.
  for (auto it = changes_.begin(); it != changes_.end(); ++it) {
    if (it->change == change && it->name == name) {
      changes_.erase(it);
      break;
    }
  }
  changes_.push_back(DeviceChange{change, name});
  queued_.notify_one();
}

void DeviceChangeQueue::Request(unsigned what) {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_ |= what;
  queued_.notify_one();
}

void DeviceChangeQueue::LookAgainEvery(std::uint32_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  lookAgainMs_ = ms;
}

void DeviceChangeQueue::Stop() {
  std::thread worker;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    worker.swap(worker_);
  }
  queued_.notify_all();
  if (worker.joinable()) worker.join();
}

void DeviceChangeQueue::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto due = [this] { return stop_ || !changes_.empty() || requests_ != 0; };
  for (;;) {
    if (lookAgainMs_ == 0) {
      queued_.wait(lock, due);
    } else if (!queued_.wait_for(lock, std::chrono::milliseconds(lookAgainMs_), due)) {
      requests_ |= kLookAgain;
    }
    if (stop_) return;
    DeviceChangeBatch batch;
    batch.swap(changes_);
    const unsigned requests = requests_;
    requests_ = 0;
    lock.unlock();
    pass_(batch, requests);
    lock.lock();
  }
}
