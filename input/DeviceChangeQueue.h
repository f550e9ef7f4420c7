#pragma once
// What reaches the control thread from other threads: device-change
// notifications from the HID backend's thread, what the readers hand over
// (a read-back, a mode report or a reply, with a copy of its report), the
// windows' commands (typed, each with its completion), and requests (a
// reader that gave the frame up, a wake from sleep), plus its timers (the
// session's, which looks for a lost frame and asks for a read-back again,
// and a refused command's next try). Whatever
// queued up while one pass ran is the next pass, so a bouncing device costs
// a few passes, not one each. Only a command's caller waits, for its own
// command; nobody else who posts waits for a pass.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "input/FrameSession.h"

class DeviceChangeQueue {
 public:
  // What a pass is asked to do besides the notifications, as bits.
  enum Request : unsigned {
    kReadsFailed = 1,  // a reader gave the open frame up
    kResume = 2,       // the system woke from sleep
    kTimer = 4,        // the period TimerEvery set passed
    kSendAgain = 8,    // the pause before a refused command's next try passed
    kClient = 16,      // the control client asked for its turn (Wake)
    kClientTick = 32,  // the control client's tick (ClientTickEvery) passed
  };
  // A report a reader handed over, read while the frame was open as
  // `generation` (FrameChannel::OpenGeneration).
  struct HandedOver {
    FrameEvent event;
    std::uint64_t generation;
    std::array<std::uint8_t, platform::kReportSize> report;
  };
  using HandedOverList = std::vector<HandedOver>;
  // What a window (or the application, or a test) asks the control thread
  // to do. The caller owns it and waits until it is done.
  struct Command {
    enum Kind : std::uint8_t {
      kStartUp,          // StartTouchPipeline's lifecycle event
      kCompleteStartUp,  // `flag`: the mouse setting
      kShutDown,         // the exit's steps
      kMouseEnable,      // `flag`: on
      kReadBack,         // RequestCalibrationReadBack
      kSend,             // `fill` into the command buffer, then `pauseMs`
      kCall,             // `fill(context, nullptr)` on the control thread (tests)
    };
    Kind kind;
    bool flag = false;
    std::uint32_t pauseMs = 0;
    void (*fill)(void* context, std::uint8_t* buffer) = nullptr;
    void* context = nullptr;
    int result = 0;     // kSend: 1 if the frame took it
    bool done = false;  // under the queue's lock: its caller may return
    bool ran = false;   // ... and the control thread ran it
  };
  using CommandList = std::vector<Command*>;
  using Pass = std::function<void(const DeviceChangeBatch&, unsigned requests,
                                  const HandedOverList&, const CommandList&)>;

  explicit DeviceChangeQueue(Pass pass) : pass_(std::move(pass)) {}
  ~DeviceChangeQueue() { Stop(); }
  DeviceChangeQueue(const DeviceChangeQueue&) = delete;
  DeviceChangeQueue& operator=(const DeviceChangeQueue&) = delete;

  void Start();
  // On the backend's thread; never waits for a pass.
  void Post(platform::HidChange change, const std::string& name);
  // Any thread; never waits for a pass.
  void Request(unsigned what);
  // A reader's report for the control thread; never waits for a pass.
  void HandOver(FrameEvent event, std::uint64_t generation, const std::uint8_t* report);
  // Runs `command` on the control thread and returns once it is done: true.
  // False (nothing run) when called on the control thread itself or while
  // it does not run (before Start, after Stop): the caller is then the
  // control side and runs it itself.
  bool Call(Command& command);
  // From the pass: `command` is done; its caller returns.
  void Complete(Command& command);
  // After Stop: `command`, taken by a pass but held, was not run; its caller
  // runs it.
  void Abandon(Command& command);
  // Takes the first report handed over, waiting for one until `until`;
  // false if none came. For the control side, which awaits an answer.
  bool TakeHandedOver(std::chrono::steady_clock::time_point until, HandedOver& out);
  // One pass with kSendAgain after `ms`; from the pass.
  void SendAgainAfter(std::uint32_t ms);
  // While `ms` is not 0 a pass with kTimer runs every `ms` (the session's
  // timer); from the control thread.
  void TimerEvery(std::uint32_t ms) { Every(periodic_[0], ms); }
  // While `ms` is not 0 a pass with kClientTick runs every `ms`; any thread.
  void ClientTickEvery(std::uint32_t ms) { Every(periodic_[1], ms); }
  // Joins the worker; later posts are never handled. Safe to call twice.
  void Stop();

 private:
  void Loop();
  struct Periodic {
    std::uint32_t ms;
    unsigned request;
    std::chrono::steady_clock::time_point at;
  };
  void Every(Periodic& timer, std::uint32_t ms);

  const Pass pass_;
  // Guards the queue, the commands' done flags and the stop flag.
  std::mutex mutex_;
  std::condition_variable queued_;
  std::condition_variable completed_;  // a command's caller waits on it
  DeviceChangeBatch changes_;
  HandedOverList handedOver_;
  CommandList commands_;
  std::thread::id workerId_;
  unsigned requests_ = 0;
  Periodic periodic_[2] = {{0, kTimer, {}}, {0, kClientTick, {}}};
  std::chrono::steady_clock::time_point sendAgainAt_;
  bool sendAgain_ = false;
  std::uint64_t timersSet_ = 0;  // counts the timers set, to wake the worker's wait
  bool stop_ = false;
  std::thread worker_;
};
