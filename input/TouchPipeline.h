#pragma once
// The touch pipeline of one running service: the opened frame's profile and
// channel, the reader threads and their routing, the decoder, and the command
// channel. One instance per process, created by the application; a test
// builds a fresh one over any HID backend.
//
// The frame's lifecycle is decided by a FrameSession (a pure state machine);
// this class feeds it events and executes the steps it answers with.
//
// Locks, outermost first: the control lock (start-up, device changes, mouse
// toggling, exit: one sequence at a time), the route lock (a reader routing
// one report; discovery replacing the profile), the session lock (the state
// machine, the mode bytes and the buttons), the command lock (the command
// buffer from filling until the write completed), the channel lock (handles,
// open flag, the profile copy), and the device-change queue's own lock.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "bridge/DriverApiPort.h"
#include "input/DeviceCommands.h"
#include "input/DeviceProfile.h"
#include "input/Discovery.h"
#include "input/FrameSession.h"
#include "input/MainWindowModel.h"
#include "input/OutputLifecycle.h"
#include "input/ReportRouting.h"
#include "input/TouchDecoder.h"
#include "platform/Hid.h"

// The paths and handles of the open frame.
struct DeviceChannel {
  DevicePaths paths;
  std::size_t selectedIndex = 0;
  std::shared_ptr<platform::HidDevice> singleRead;  // single-channel
  std::shared_ptr<platform::HidDevice> replyRead;   // split-channel "col03"
  std::shared_ptr<platform::HidDevice> touchRead;   // split-channel "col04"
  std::shared_ptr<platform::HidDevice> write;
  bool open = false;
};

class TouchPipeline {
 public:
  enum ReaderRole { kSingleReader, kReplyReader, kTouchReader, kReaderCount };

  // Fills the list of acceptable frames; called at every discovery (the
  // service reads it from its settings file).
  using VidPidSource = std::function<void(VidPidList&)>;

  TouchPipeline(platform::HidBackend& hid, MainWindowModel& window, DriverApiPort& driver,
                OutputLifecycle* output, VidPidSource vidPidSource = &DefaultVidPidList);
  ~TouchPipeline();
  TouchPipeline(const TouchPipeline&) = delete;
  TouchPipeline& operator=(const TouchPipeline&) = delete;

  void SetSinks(TuioTouchSink* tuio, XmlTouchSink* xml) { decoder_.SetSinks(tuio, xml); }

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
  void Stop();

  void DiscoverTouchFrame();
  void OpenTouchFrame(std::size_t index);
  void CloseTouchFrame();
  void StartReaderThreads();

  // Device-change handling as the main window forwards it.
  void OnDeviceArrival();
  void OnDeviceRemoval(const std::string& interfaceName);

  // The command channel. Each returns once the write completed (or failed)
  // and the command's pause has passed. These take the control lock: code
  // running on a reader thread (button enabling, HandleCalibrationReply)
  // sends with SendCommand only.
  void SetTouchOutput(bool on);
  void SendSeriesMode(const SeriesModeBytes& bytes);
  void InitSeriesDevice();
  void ApplyMouseEnable(bool on);
  void RequestCalibrationReadBack();
  void SendExitCommands();
  // Fills the shared buffer with `fill` and sends it; 1 if accepted, 0 if not.
  template <class Fill>
  int SendCommand(Fill fill) {
    std::lock_guard<std::mutex> lock(commandMutex_);
    fill(commandBuffer_.data());
    return SendDeviceCommand();
  }

  // Safe from any thread, the reader threads' callbacks included.
  bool IsOpen() const;
  DeviceProfile Profile() const;
  SeriesMode Mode() const;
  FrameState State() const;
  // Entry 0 of the path list (control side).
  std::string SelectedPath();
  const TouchDecoder& Decoder() const { return decoder_; }

  // Pauses between commands (100 and 200 ms); tests may shorten them.
  void SetPauseScale(double scale) { pauseScale_ = scale; }
  // The pause after a command, for senders outside the pipeline (the
  // calibration dialog).
  void Pause(std::uint32_t ms);

 private:
  // Feeds one event to the session and executes its steps; a Discover step
  // is answered with Discovered. Control-side events run under the control
  // lock; reader events (read-back, mode report, reply) on the reader.
  void Dispatch(FrameEvent event, FrameKind kind = FrameKind::None,
                const std::uint8_t* report = nullptr);
  void Execute(FrameStep step, const std::uint8_t* report);
  // Called with commandMutex_ held.
  int SendDeviceCommand();
  void ReaderLoop(ReaderRole role);
  std::shared_ptr<platform::HidDevice> HandleFor(ReaderRole role) const;
  void Route(ReaderRole role, const std::uint8_t* report);
  void SetButtons(bool calibration, bool mouse, bool on);
  void DeviceChangeLoop();
  // One pass over the notifications that queued up: at most one event.
  void HandleDeviceChanges(const std::deque<std::pair<platform::HidChange, std::string>>& batch);

  platform::HidBackend& hid_;
  MainWindowModel& window_;
  DriverApiPort& driver_;
  OutputLifecycle* output_;
  const VidPidSource vidPidSource_;

  // Control side: start-up, device changes, buttons, exit. Recursive: the
  // public command methods are also steps of the control sequences.
  std::recursive_mutex controlMutex_;

  // Written by discovery under routeMutex_; read by the reader threads under
  // it, and by the control side. A plain mutex: the Windows toolchain's
  // std::shared_mutex (a lazily initialised rwlock) is not safe on first
  // concurrent use, and routing is serialised by the outputs' lock anyway.
  mutable std::mutex routeMutex_;
  DeviceProfile profile_;
  TouchDecoder decoder_{profile_};
  std::array<std::uint8_t, kReportSize> singleBuffer_{};  // not cleared between reads
  VidPidList vidPidList_;

  // The lifecycle, the Series01xx mode bytes, and the buttons: a reader
  // enables them only while the session has a frame open, and a removal
  // disables them, both under this lock, so a late reply never leaves the
  // buttons enabled for a frame that is gone.
  mutable std::mutex sessionMutex_;
  FrameSession session_;
  SeriesMode mode_;

  std::mutex commandMutex_;
  std::array<std::uint8_t, kCommandSize> commandBuffer_{};

  // The channel's handles and open flag, a copy of the profile for other
  // threads, and the readers' wake-up.
  mutable std::mutex deviceMutex_;
  std::condition_variable deviceChanged_;
  DeviceChannel channel_;
  DeviceProfile profileCopy_;
  std::uint64_t openGeneration_ = 0;
  bool stopping_ = false;
  std::thread readers_[kReaderCount];

  // Device-change notifications arrive on a backend thread; this worker
  // handles those that queued up meanwhile as one pass.
  std::mutex changeMutex_;
  std::condition_variable changeQueued_;
  std::deque<std::pair<platform::HidChange, std::string>> changes_;
  bool changeWorkerStop_ = false;
  std::thread changeWorker_;
  // The interfaces present at the last discovery, less those removed since
  // (control side).
  std::vector<std::string> knownPaths_;

  std::atomic<double> pauseScale_{1.0};
};
