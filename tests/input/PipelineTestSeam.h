#pragma once
// What tests look at and do inside a pipeline beyond the service's own
// surface: the mode bytes, the chosen path, a close without a removal. What
// the control side owns is read and done on the control thread.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "input/TouchPipeline.h"

class TouchPipelineTestSeam {
 public:
  explicit TouchPipelineTestSeam(TouchPipeline& p) : p_(p) {}
  SeriesMode Mode() {
    SeriesMode m;
    OnControl([&] { m = p_.Mode(); });
    return m;
  }
  // Entry 0 of the path list.
  std::string SelectedPath() {
    std::string path;
    OnControl([&] { path = p_.paths_.path[0]; });
    return path;
  }
  void CloseTouchFrame() {
    OnControl([&] { p_.CloseTouchFrame(); });
  }

  // The control thread held busy, as while it runs a long sequence; what
  // this seam is asked to do meanwhile runs in that sequence.
  class Hold {
   public:
    explicit Hold(TouchPipelineTestSeam& seam) : seam_(seam) {
      seam_.hold_ = this;
      thread_ = std::thread([this] { seam_.p_.OnControl(&Hold::Held, this); });
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return held_; });
    }
    ~Hold() {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
      }
      changed_.notify_all();
      thread_.join();
      seam_.hold_ = nullptr;
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    // `job` on the held control thread; returns once it ran.
    void Run(const std::function<void()>& job) {
      std::unique_lock<std::mutex> lock(mutex_);
      job_ = &job;
      changed_.notify_all();
      changed_.wait(lock, [this] { return job_ == nullptr; });
    }

   private:
    static void Held(void* context, std::uint8_t*) {
      Hold& h = *static_cast<Hold*>(context);
      std::unique_lock<std::mutex> lock(h.mutex_);
      h.held_ = true;
      h.changed_.notify_all();
      for (;;) {
        h.changed_.wait(lock, [&] { return h.released_ || h.job_; });
        if (h.job_) {
          (*h.job_)();
          h.job_ = nullptr;
          h.changed_.notify_all();
          continue;
        }
        return;
      }
    }
    TouchPipelineTestSeam& seam_;
    std::mutex mutex_;
    std::condition_variable changed_;
    const std::function<void()>* job_ = nullptr;
    bool held_ = false, released_ = false;
    std::thread thread_;
  };
  std::unique_ptr<Hold> HoldControl() { return std::make_unique<Hold>(*this); }
  // An arrival's discovery, run on the control thread: the frame is closed
  // and opened again.
  void Rediscover() {
    OnControl([&] { p_.Dispatch(FrameEvent::kArrival); });
  }

 private:
  void OnControl(const std::function<void()>& job) {
    if (hold_) {
      hold_->Run(job);
      return;
    }
    p_.OnControl([](void* c, std::uint8_t*) { (*static_cast<const std::function<void()>*>(c))(); },
                 const_cast<std::function<void()>*>(&job));
  }

  TouchPipeline& p_;
  Hold* hold_ = nullptr;
};
