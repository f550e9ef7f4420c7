#pragma once
// The touch pipeline of one running service: the frame's lifecycle, its
// discovery, the routing of the readers' reports, and the commands the
// lifecycle sends. One instance per process, created by the application; a
// test builds a fresh one over any HID backend.
//
// The parts: FrameSession decides the lifecycle (a pure state machine) and
// this class executes its steps; FrameChannel holds the open frame's handles
// and runs the reader threads; CommandChannel writes the command buffer;
// DeviceChangeQueue hands the backend's notifications, the readers'
// read-backs, mode reports and replies, the windows' commands and the timers
// to the control thread (its worker). A pass turns its notifications into
// at most one lifecycle event (SortDeviceChanges, then
// FrameSession::EventsFor); what was handed over, a lost frame, a resume and
// the session's timer add their own. Only the control thread runs the
// session, sends commands and waits: a window's command is a typed entry
// its caller waits on (run at once when the caller is the control thread,
// or when the control thread does not run: before start-up, after
// StopDeviceChanges). Readers decode and never send or sleep: what is not a
// touch goes to the control thread with a copy of its report, which the
// control side also takes while it awaits one (within the read-calibration
// pause, the Series01xx mode query's 200 ms).
//
// No control or session lock: what the control side owns is touched on the
// control thread only. Locks left: the command channel's, the frame
// channel's (not per report) and the change queue's own. The frame channel
// owns the frame's profile; a reader's report comes with the profile of its
// frame, so routing needs no lock of its own; the calibration a reader
// applies is its own copy (ReaderCalibration).
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/DriverApiPort.h"
#include "input/CommandChannel.h"
#include "input/DeviceChangeQueue.h"
#include "input/DeviceCommands.h"
#include "input/DeviceProfile.h"
#include "input/Discovery.h"
#include "input/FrameChannel.h"
#include "input/FrameSession.h"
#include "input/FrameStatus.h"
#include "input/OutputLifecycle.h"
#include "input/PipelineState.h"
#include "input/ReaderCalibration.h"
#include "input/ReportRouting.h"
#include "input/TouchDecoder.h"
#include "platform/Hid.h"

class TouchPipeline final : private ReportRouter {
 public:
  // Fills the list of acceptable frames; called at every discovery (the
  // service reads it from its settings file).
  using VidPidSource = std::function<void(VidPidList&)>;

  TouchPipeline(platform::HidBackend& hid, PipelineState& state, PipelineWindow& window,
                DriverApiPort& driver, OutputLifecycle* output,
                VidPidSource vidPidSource = &DefaultVidPidList);
  ~TouchPipeline();
  TouchPipeline(const TouchPipeline&) = delete;
  TouchPipeline& operator=(const TouchPipeline&) = delete;

  void SetSink(TouchDispatchSink* both) {
    for (TouchDecoder& d : decoders_) d.SetSink(both);
  }
  void SetSinks(TuioTouchSink* tuio, XmlTouchSink* xml) {
    for (TouchDecoder& d : decoders_) d.SetSinks(tuio, xml);
  }

  // The one-time start: device-change registration, discovery, outputs,
  // reader threads, touch output on, XML listener, Series01xx initialisation.
  void StartTouchPipeline();
  // What the main window does with the pipeline after StartTouchPipeline:
  // apply the mouse setting, ask a single-channel frame for its calibration,
  // then let the readers decode.
  void CompleteStartUp(bool mouseEnable);
  // The main window's shut-down with the frame: exit commands, close (touch
  // output off), mouse emulation on, outputs stopped.
  void ShutDown();
  // Device changes are no longer handled (the worker is joined); the
  // application calls it before its shut-down, which a frame's arrival must
  // not interleave with.
  void StopDeviceChanges();
  // Stops and joins every thread this object started (closing the frame's
  // handles without commands). Safe to call twice; the destructor calls it.
  void CloseReaderThreadHandles();

  // A pass of device changes as an arrival would start one: the list of
  // frames is read again, and a listed frame that is present but not open
  // is opened; an open frame that is still there is left alone.
  void Rescan();
  // The system woke from sleep: the open frame lost its volatile state, so
  // its arrival steps run again (on the device-change worker; returns at once).
  void OnResume();

  // The commands the windows send, run on the control thread. Each returns
  // once the write completed (or failed) and the command's pause has passed.
  void ApplyMouseEnable(bool on);
  void RequestCalibrationReadBack();
  // Fills the shared buffer with `fill` and sends it, then pauses `pauseMs`,
  // on the control thread; 1 if accepted, 0 if not. Never from a reader
  // thread (HandleCalibrationReply copies and returns).
  template <class Fill>
  int SendDeviceCommand(Fill fill, std::uint32_t pauseMs = 0) {
    Command c{Command::kSend};
    c.pauseMs = pauseMs;
    c.fill = [](void* context, std::uint8_t* buffer) { (*static_cast<Fill*>(context))(buffer); };
    c.context = &fill;
    Run(c);
    return c.result;
  }
  // A part that decides on the control thread beside the session (the web
  // calibration): OnControl runs there after each WakeControlClient and
  // every `tickMs` (`tick`), never while the session waits for a mode report.
  class ControlClient {
   public:
    virtual void OnControl(bool tick) = 0;

   protected:
    ~ControlClient() = default;
  };
  // Any thread; nullptr ends it. Once this returns, the old client is not
  // called again.
  void SetControlClient(ControlClient* client, std::uint32_t tickMs);
  // Any thread; never waits.
  void WakeControlClient() { changes_.Request(DeviceChangeQueue::kClient); }
  // `fn()` on the control thread; returns once it ran.
  template <class Fn>
  void OnControlThread(Fn fn) {
    OnControl([](void* context, std::uint8_t*) { (*static_cast<Fn*>(context))(); }, &fn);
  }

  // The pause after a command, for senders outside the pipeline (the
  // calibration dialog).
  void Pause(std::uint32_t ms) const { commands_.Pause(ms); }
  // Pauses between commands (100 and 200 ms); tests may shorten them.
  void SetPauseScale(double scale) { commands_.SetPauseScale(scale); }

  // Safe from any thread, the reader threads' callbacks included.
  bool IsOpen() const { return frame_.IsOpen(); }
  DeviceProfile Profile() const { return frame_.Profile(); }
  FrameState State() const { return publishedState_.load(std::memory_order_acquire); }
  // The frame as the status answer tells it; safe from any thread, never
  // waits for the control side.
  FrameStatusView Status() const { return status_.View(); }
  // Where a fault outside the readers and the command channel (a sleep) is
  // recorded.
  FrameStatus& StatusRecord() { return status_; }

 private:
  // The tests' view of what lies behind this surface (tests/input).
  friend class TouchPipelineTestSeam;

  using Command = DeviceChangeQueue::Command;
  // `c` on the control thread, its caller waiting (see DeviceChangeQueue::Call).
  void Run(Command& c);
  void RunCommand(Command& c);
  // The held commands, in order, then the control client if it is due,
  // unless the session waits.
  void RunHeldCommands();
  // `fn(context)` on the control thread, for the tests' seam.
  void OnControl(void (*fn)(void* context, std::uint8_t*), void* context);

  // Feeds one event to the session and executes its steps; a Discover step
  // is answered with Discovered. On the control thread; what a reader
  // handed over (read-back, mode report, reply) with its report and the
  // profile of the frame it came from.
  void Dispatch(FrameEvent event, FrameKind kind = FrameKind::kNone,
                const std::uint8_t* report = nullptr, const DeviceProfile* reportProfile = nullptr);
  // The session's answer to one event, with its trace line.
  FrameSteps Feed(FrameEvent event, FrameKind kind);
  void Execute(FrameStep step, const std::uint8_t* report, const DeviceProfile* reportProfile);
  void Route(ReaderRole role, const DeviceProfile& profile, std::uint64_t generation,
             const std::uint8_t* report) override;
  // Every fault of the frame a reader sees is noted here.
  void OnReadFault(ReaderRole role, ReadFault fault, std::uint32_t ms, unsigned failures,
                   const std::string& why) override;
  void SetButtons(bool calibration, bool mouse, bool on);
  // One pass: what the readers handed over, the windows' commands, the
  // notifications that queued up (at most one event of them), then what other
  // threads asked for and the timers (DeviceChangeQueue::Request).
  void HandleDeviceChanges(const DeviceChangeBatch& batch, unsigned requests,
                           const DeviceChangeQueue::HandedOverList& handedOver,
                           const DeviceChangeQueue::CommandList& commands);
  // A read-back or mode report a reader handed over, unless its frame was
  // closed since (or a read-back was not awaited); true when handled.
  bool HandleHandedOver(const DeviceChangeQueue::HandedOver& h);
  // An interface of a listed frame is present (a lost frame answers again).
  bool ListedFramePresent();

  // DiscoverTouchFrame over what is present now, then the frame it chose opened.
  void DiscoverAndOpenFrame();
  void OpenTouchFrame(std::size_t index);
  // Touch output off and the handles closed.
  void CloseTouchFrame();
  void StartReaderThreads();
  void SetTouchOutput(bool on);
  // The windows' commands as the control thread runs them (also steps).
  void SetMouseEnable(bool on);
  void ReadBack();
  // A command the frame must take (touch output on, its mouse mode, the
  // read-back's request): refused, it is sent again, with a growing pause,
  // until the frame takes it or leaves; a newer command of `name` replaces it.
  template <class Fill>
  int SendKept(const char* name, Fill fill);
  void SendRefusedAgain();
  void SendSeriesMode(const SeriesModeBytes& bytes, bool kept = true);
  void InitSeriesDevice();
  void SendExitCommands();
  SeriesMode Mode() const { return mode_; }

  platform::HidBackend& hid_;
  PipelineState& state_;
  PipelineWindow& window_;
  DriverApiPort& driver_;
  OutputLifecycle* output_;
  const VidPidSource vidPidSource_;

  // The control side's, touched on the control thread only (or by the one
  // caller that is the control side while that thread does not run).
  DevicePaths paths_;
  // The interfaces present at the last discovery, less those removed since.
  std::vector<std::string> knownPaths_;
  VidPidList vidPidList_;

  // One decoder per reader, used on that reader's thread only. Each forgets
  // its touches when it sees that the outputs started again since its last
  // report (they start with no touch).
  TouchDecoder decoders_[kReaderCount];
  std::uint32_t decodedStarts_[kReaderCount] = {};
  std::atomic<std::uint32_t> outputStarts_{0};
  // Each reader's copy of the calibration, swapped in by the control thread.
  ReaderCalibration calibrations_[kReaderCount];

  // A read-back asked more than once may be answered more than once: the
  // answers still owed after the first, and until when (TickCount) the
  // single reader drops a report with byte 1 = 5 as one of them instead of
  // decoding it as a touch. Asked counts on the control thread only.
  unsigned readBackAsked_ = 0;
  std::atomic<unsigned> lateReadBacks_{0};
  std::atomic<std::uint32_t> lateReadBacksUntil_{0};
  bool LateReadBack();

  // The lifecycle and the Series01xx mode bytes, the control thread's. The
  // buttons are enabled only while the session has a frame open and a reply
  // is of the open frame (its generation), so a late reply never leaves them
  // enabled for a frame that is gone.
  FrameSession session_;
  std::atomic<FrameState> publishedState_{FrameState::kNotStarted};
  SeriesMode mode_;

  // The commands refused so far, oldest first, and the open they belong to;
  // the control side only.
  struct RefusedCommand {
    const char* name;
    unsigned tries;
    std::array<std::uint8_t, kCommandSize> bytes;
  };
  std::vector<RefusedCommand> refused_;
  std::uint64_t refusedGeneration_ = 0;
  std::uint32_t sendAgainMs_ = 0;
  std::uint32_t timerMs_ = 0;            // the session's timer as last set
  bool timerSet_ = false;                // ... in this pass
  DeviceChangeQueue::CommandList held_;  // the windows' commands the session's wait holds
  ControlClient* client_ = nullptr;
  unsigned clientDue_ = 0;  // kClient, kClientTick: what it is due for

  FrameStatus status_;
  FrameChannel frame_{hid_, *this, &status_};
  CommandChannel commands_{frame_};
  DeviceChangeQueue changes_{
      [this](const DeviceChangeBatch& b, unsigned requests,
             const DeviceChangeQueue::HandedOverList& h,
             const DeviceChangeQueue::CommandList& c) { HandleDeviceChanges(b, requests, h, c); }};
};
