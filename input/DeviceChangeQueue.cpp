#include "input/DeviceChangeQueue.h"

#include <algorithm>
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

void DeviceChangeQueue::HandOver(FrameEvent event, std::uint64_t generation,
                                 const std::uint8_t* report) {
  std::lock_guard<std::mutex> lock(mutex_);
  HandedOver h{event, generation, {}};
  std::copy(report, report + platform::kReportSize, h.report.begin());
  handedOver_.push_back(h);
  queued_.notify_one();
}

bool DeviceChangeQueue::Call(Command& command) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (stop_ || !worker_.joinable() || std::this_thread::get_id() == workerId_) return false;
  command.done = command.ran = false;
  commands_.push_back(&command);
  queued_.notify_one();
  completed_.wait(lock, [&] { return command.done; });
  // Stopped before its turn: not run, the caller runs it.
  return command.ran;
}

void DeviceChangeQueue::Complete(Command& command) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    command.done = command.ran = true;
  }
  completed_.notify_all();
}

void DeviceChangeQueue::Abandon(Command& command) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    command.done = true;
    command.ran = false;
  }
  completed_.notify_all();
}

bool DeviceChangeQueue::TakeHandedOver(std::chrono::steady_clock::time_point until,
                                       HandedOver& out) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!queued_.wait_until(lock, until, [this] { return stop_ || !handedOver_.empty(); }) ||
      handedOver_.empty())
    return false;
  out = handedOver_.front();
  handedOver_.erase(handedOver_.begin());
  return true;
}

void DeviceChangeQueue::Every(Periodic& timer, std::uint32_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  // A new period starts now; the same one keeps its pace.
  if (ms != 0 && ms != timer.ms)
    timer.at = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  timer.ms = ms;
  ++timersSet_;
  queued_.notify_one();
}

void DeviceChangeQueue::SendAgainAfter(std::uint32_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  sendAgain_ = true;
  sendAgainAt_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  ++timersSet_;
  queued_.notify_one();  // the worker may wait without a timer
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
  CommandList left;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    left.swap(commands_);
    workerId_ = std::thread::id();
    // Commands the worker never took: their callers run them.
    for (Command* c : left) c->done = true;
  }
  completed_.notify_all();
}

void DeviceChangeQueue::Loop() {
  using Clock = std::chrono::steady_clock;
  std::unique_lock<std::mutex> lock(mutex_);
  workerId_ = std::this_thread::get_id();
  const auto due = [this] {
    return stop_ || !changes_.empty() || !handedOver_.empty() || !commands_.empty() ||
           requests_ != 0;
  };
  for (;;) {
    // A timer set from another thread (start-up runs on the window's) ends
    // the wait too, and the next round waits for it.
    const std::uint64_t timers = timersSet_;
    const auto woken = [&] { return due() || timersSet_ != timers; };
    // The timers: the earliest of the periodic ones and the next try.
    bool timed = sendAgain_;
    Clock::time_point at = sendAgainAt_;
    for (const Periodic& p : periodic_) {
      if (p.ms != 0 && (!timed || p.at < at)) at = p.at, timed = true;
    }
    if (!timed) {
      queued_.wait(lock, woken);
    } else {
      queued_.wait_until(lock, at, woken);
      const Clock::time_point now = Clock::now();
      for (Periodic& p : periodic_) {
        if (p.ms == 0 || now < p.at) continue;
        requests_ |= p.request;
        p.at = now + std::chrono::milliseconds(p.ms);
      }
      if (sendAgain_ && now >= sendAgainAt_) {
        requests_ |= kSendAgain;
        sendAgain_ = false;
      }
    }
    if (stop_) return;
    if (!due()) continue;
    DeviceChangeBatch batch;
    batch.swap(changes_);
    HandedOverList handedOver;
    handedOver.swap(handedOver_);
    CommandList commands;
    commands.swap(commands_);
    const unsigned requests = requests_;
    requests_ = 0;
    lock.unlock();
    pass_(batch, requests, handedOver, commands);
    lock.lock();
  }
}
