#include "input/TouchPipeline.h"

#include <cctype>
#include <chrono>
#include <cstring>

#include "platform/Trace.h"

namespace {

using platform::HidAccess;
using platform::HidDevice;
using platform::HidIoStatus;
using platform::HidShare;

using frame::kReaderVendor;
// How long a sender waits for its write to complete before it gives the
// buffer up; a frame completes a write within milliseconds.
constexpr std::uint32_t kWriteTimeoutMs = 1000;

bool SamePathIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

void CloseHandle(std::shared_ptr<HidDevice>& h) {
  if (h) h->Close();
  h.reset();
}

const char* ReaderName(TouchPipeline::ReaderRole role) {
  switch (role) {
    case TouchPipeline::kSingleReader:
      return "SingleReader";
    case TouchPipeline::kReplyReader:
      return "ReplyReader";
    default:
      return "TouchReader";
  }
}

}  // namespace

TouchPipeline::TouchPipeline(platform::HidBackend& hid, MainWindowModel& window,
                             DriverApiPort& driver, OutputLifecycle* output,
                             VidPidSource vidPidSource)
    : hid_(hid),
      window_(window),
      driver_(driver),
      output_(output),
      vidPidSource_(std::move(vidPidSource)) {}

TouchPipeline::~TouchPipeline() {
  Stop();
}

// ---- the lifecycle ---------------------------------------------------------

void TouchPipeline::StartTouchPipeline() {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  if (State() != FrameState::NotStarted) return;
  channel_.selectedIndex = 0;
  changeWorker_ = std::thread(&TouchPipeline::DeviceChangeLoop, this);
  hid_.SetChangeCallback([this](platform::HidChange change, const std::string& name) {
    std::lock_guard<std::mutex> lock(changeMutex_);
    // A repeat of a queued notification moves it to the back: a pass reads
    // which interfaces arrived or went and which came last, and the queue
    // stays as short as the interfaces are few however fast a device
    // bounces.
    for (auto it = changes_.begin(); it != changes_.end(); ++it) {
      if (it->first == change && it->second == name) {
        changes_.erase(it);
        break;
      }
    }
    changes_.emplace_back(change, name);
    changeQueued_.notify_one();
  });
  // Write completion is observed inside SendDeviceCommand; no watcher thread.
  Dispatch(FrameEvent::StartUp);
}

void TouchPipeline::CompleteStartUp(bool mouseEnable) {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  window_.mouseEnable = mouseEnable;
  Dispatch(FrameEvent::StartUpComplete);
}

void TouchPipeline::ShutDown() {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  Dispatch(FrameEvent::Exit);
}

void TouchPipeline::OnDeviceArrival() {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  Dispatch(FrameEvent::Arrival);
}

void TouchPipeline::OnDeviceRemoval(const std::string& interfaceName) {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  if (!SamePathIgnoringCase(interfaceName, channel_.paths.path[0])) return;
  Dispatch(FrameEvent::Removal);
}

void TouchPipeline::Dispatch(FrameEvent event, FrameKind kind, const std::uint8_t* report) {
  FrameSteps steps;
  {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    const FrameState before = session_.State();
    steps = session_.On(event, kind);
    const FrameState after = session_.State();
    if (after != before) {
      TRACE_INFO("frame: %s: %s -> %s", FrameEventName(event), FrameStateName(before),
                 FrameStateName(after));
    } else {
      TRACE_DEBUG("frame: %s in %s", FrameEventName(event), FrameStateName(after));
    }
  }
  for (FrameStep step : steps) Execute(step, report);
}

void TouchPipeline::Execute(FrameStep step, const std::uint8_t* report) {
  switch (step) {
    case FrameStep::ResetXmlEntries:
      if (output_) output_->ResetXmlEntries();
      break;
    case FrameStep::Discover:
      DiscoverTouchFrame();
      Dispatch(FrameEvent::Discovered, KindOf(profile_, IsOpen()));
      break;
    case FrameStep::CloseFrame:
      CloseTouchFrame();
      break;
    case FrameStep::StartOutput:
      if (output_) output_->StartTouchOutput();
      break;
    case FrameStep::StartOutputIfStopped:
      if (output_ && !output_->IsTouchOutputStarted()) output_->StartTouchOutput();
      break;
    case FrameStep::StopOutput:
      if (output_) output_->StopTouchOutput();
      break;
    case FrameStep::StopOutputIfStarted:
      if (output_ && output_->IsTouchOutputStarted()) output_->StopTouchOutput();
      break;
    case FrameStep::StartReaders:
      StartReaderThreads();
      break;
    case FrameStep::StartXmlListener:
      if (output_) output_->StartXmlListener();
      break;
    case FrameStep::TouchOutputOn:
      SetTouchOutput(true);
      break;
    case FrameStep::InitSeriesDevice:
      InitSeriesDevice();
      break;
    case FrameStep::SeriesModeMouseOn:
      SendSeriesMode(SeriesMouseOnMode(Mode()));
      break;
    case FrameStep::ApplyMouseEnable:
      ApplyMouseEnable(window_.mouseEnable);
      break;
    case FrameStep::ApplyMouseOn:
      ApplyMouseEnable(true);
      break;
    case FrameStep::RequestReadBack:
      RequestCalibrationReadBack();
      break;
    case FrameStep::ClearAwaitingReadBack:
      window_.awaitingReadBack = false;
      break;
    case FrameStep::StoreReadBack:
      // The block is stored before the flag switches the mapping on.
      window_.calibrationValid = ApplyReadBack(report, window_.calibration);
      break;
    case FrameStep::MouseModeAfterReadBack: {
      const bool mouse = window_.mouseEnable;
      SendCommand(
          [mouse](std::uint8_t* b) { FillMouseMode(b, mouse, MOUSE_MODE_AFTER_READ_BACK); });
      Pause(100);
      break;
    }
    case FrameStep::StoreSeriesMode: {
      std::lock_guard<std::mutex> lock(sessionMutex_);
      ParseSeriesMode(report, profile_.VersionNumber, mode_);
      break;
    }
    case FrameStep::ClearCalibrationValid:
      window_.calibrationValid = 0;
      break;
    case FrameStep::LayoutWindow:
      window_.LayoutForDevice();
      break;
    case FrameStep::EnableButtons:
      SetButtons(true, true, true);
      break;
    case FrameStep::EnableMouseButton:
      SetButtons(false, true, true);
      break;
    case FrameStep::DisableButtons:
      SetButtons(true, true, false);
      break;
    case FrameStep::SetInitialised:
      window_.initialised = true;
      window_.visible = false;
      break;
    case FrameStep::ExitCommands:
      SendExitCommands();
      break;
  }
}

void TouchPipeline::SetButtons(bool calibration, bool mouse, bool on) {
  std::lock_guard<std::mutex> lock(sessionMutex_);
  if (on && !session_.FrameOpen()) return;  // removed while the reply was handled
  if (calibration) window_.EnableCalibrationButton(on);
  if (mouse) window_.EnableMouseButton(on);
}

void TouchPipeline::StopDeviceChanges() {
  hid_.SetChangeCallback({});
  {
    std::lock_guard<std::mutex> lock(changeMutex_);
    changeWorkerStop_ = true;
  }
  changeQueued_.notify_all();
  if (changeWorker_.joinable()) changeWorker_.join();
}

void TouchPipeline::Stop() {
  StopDeviceChanges();
  {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    stopping_ = true;
    // Closing completes any pending read at once.
    CloseHandle(channel_.singleRead);
    CloseHandle(channel_.replyRead);
    CloseHandle(channel_.touchRead);
    CloseHandle(channel_.write);
    channel_.open = false;
  }
  deviceChanged_.notify_all();
  for (std::thread& t : readers_) {
    if (t.joinable()) t.join();
  }
}

// ---- discovery, open, close ------------------------------------------------

void TouchPipeline::DiscoverTouchFrame() {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  if (IsOpen()) CloseTouchFrame();
  vidPidSource_(vidPidList_);
  const std::vector<platform::HidInterfaceInfo> interfaces = hid_.Enumerate();
  knownPaths_.clear();
  for (const platform::HidInterfaceInfo& info : interfaces) knownPaths_.push_back(info.path);
  DeviceProfile profile = profile_;
  const std::size_t found = ::DiscoverTouchFrame(interfaces, vidPidList_, profile, channel_.paths);
  {
    std::lock_guard<std::mutex> route(routeMutex_);
    profile_ = profile;
  }
  {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    profileCopy_ = profile;
  }
  if (found != 0) {
    TRACE_INFO("discovery: %u interfaces, frame %04X:%04X version %04X, %u usable, opening %s",
               static_cast<unsigned>(interfaces.size()), profile.VendorID, profile.ProductID,
               profile.VersionNumber, static_cast<unsigned>(found),
               channel_.paths.path[channel_.selectedIndex].c_str());
    OpenTouchFrame(channel_.selectedIndex);
  } else {
    TRACE_INFO("discovery: %u interfaces, no usable interface of a listed frame",
               static_cast<unsigned>(interfaces.size()));
  }
  channel_.selectedIndex = 0;
}

void TouchPipeline::OpenTouchFrame(std::size_t index) {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  const auto open = [this](const std::string& path, HidAccess access) {
    if (path.empty()) {
      TRACE_ERROR("open failed: the frame lacks a collection it needs (\"col03\"/\"col04\")");
      return std::shared_ptr<HidDevice>();
    }
    std::shared_ptr<HidDevice> device(hid_.Open(path, access, HidShare::kShared));
    if (!device) {
      TRACE_ERROR("open failed: %s for %s: %s", path.c_str(),
                  access == platform::kHidRead ? "reading" : "writing", hid_.LastError().c_str());
    }
    return device;
  };
  const std::string& path = channel_.paths.path[index < kMaxDevicePaths ? index : 0];
  bool complete;
  if (IsSplitChannel(profile_.VersionNumber)) {
    auto reply = open(channel_.paths.replyPath, platform::kHidRead);
    auto touch = open(channel_.paths.touchPath, platform::kHidRead);
    auto write = open(path, platform::kHidWrite);
    complete = reply && touch && write;
    std::lock_guard<std::mutex> lock(deviceMutex_);
    channel_.replyRead = std::move(reply);
    channel_.touchRead = std::move(touch);
    channel_.write = std::move(write);
  } else {
    auto single = open(path, platform::kHidRead);
    auto write = open(path, platform::kHidWrite);
    complete = single && write;
    std::lock_guard<std::mutex> lock(deviceMutex_);
    channel_.singleRead = std::move(single);
    channel_.write = std::move(write);
  }
  if (!complete) {
    CloseTouchFrame();
    return;
  }
  // The outputs learn the frame's traits before its first record.
  if (output_) output_->DeviceOpened(profile_);
  {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    channel_.open = true;
    ++openGeneration_;
  }
  // Wakes the readers so that they issue their first reads.
  deviceChanged_.notify_all();
}

void TouchPipeline::CloseTouchFrame() {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  SetTouchOutput(false);  // acts only for the touch-output range
  std::lock_guard<std::mutex> lock(deviceMutex_);
  if (IsSplitChannel(profile_.VersionNumber)) {
    CloseHandle(channel_.replyRead);
    CloseHandle(channel_.touchRead);
  } else {
    CloseHandle(channel_.singleRead);
  }
  CloseHandle(channel_.write);
  channel_.open = false;
}

void TouchPipeline::StartReaderThreads() {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  if (profile_.VendorID != kReaderVendor) return;
  std::lock_guard<std::mutex> lock(deviceMutex_);
  if (stopping_) return;
  const auto start = [this](ReaderRole role) {
    if (!readers_[role].joinable())
      readers_[role] = std::thread(&TouchPipeline::ReaderLoop, this, role);
  };
  if (IsSplitChannel(profile_.VersionNumber)) {
    if (readers_[kTouchReader].joinable()) return;
    start(kReplyReader);
    start(kTouchReader);
  } else {
    start(kSingleReader);
  }
}

void TouchPipeline::DeviceChangeLoop() {
  std::unique_lock<std::mutex> lock(changeMutex_);
  for (;;) {
    changeQueued_.wait(lock, [this] { return changeWorkerStop_ || !changes_.empty(); });
    if (changeWorkerStop_) return;
    // Everything that queued up while the last pass ran is one pass.
    std::deque<std::pair<platform::HidChange, std::string>> batch;
    batch.swap(changes_);
    lock.unlock();
    HandleDeviceChanges(batch);
    lock.lock();
  }
}

void TouchPipeline::HandleDeviceChanges(
    const std::deque<std::pair<platform::HidChange, std::string>>& batch) {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  const std::string opened = channel_.paths.path[0];
  FrameChanges c;
  bool arrivals = false;
  for (const auto& change : batch) {
    if (change.first == platform::HidChange::kArrival) {
      arrivals = true;
      c.removalLast = false;
    } else {
      for (std::string& known : knownPaths_) {
        if (SamePathIgnoringCase(known, change.second)) known.clear();
      }
      if (SamePathIgnoringCase(change.second, opened)) c.removal = c.removalLast = true;
    }
  }
  if (arrivals) {
    // Which of the arrived interfaces are a listed frame's, and whether the
    // open frame is still there.
    VidPidList list;
    vidPidSource_(list);
    const std::vector<platform::HidInterfaceInfo> present = hid_.Enumerate();
    c.openFramePresent = false;
    for (const platform::HidInterfaceInfo& info : present) {
      if (!opened.empty() && SamePathIgnoringCase(info.path, opened)) c.openFramePresent = true;
    }
    for (const auto& change : batch) {
      if (change.first != platform::HidChange::kArrival) continue;
      // An interface the last discovery already saw (and that has not gone
      // since) is a late notification of what was handled.
      bool known = false;
      for (const std::string& k : knownPaths_)
        known = known || SamePathIgnoringCase(k, change.second);
      bool listed = false;
      for (const platform::HidInterfaceInfo& info : present) {
        DeviceProfile scratch;
        if (SamePathIgnoringCase(info.path, change.second) &&
            MatchVidPid(list, info.vendorId, info.productId, scratch)) {
          listed = true;
        }
      }
      (listed && !known ? c.listedArrival : c.otherArrival) = true;
    }
  }
  FrameEvent event;
  bool raise;
  {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    raise = session_.EventFor(c, event);
  }
  TRACE_INFO("device changes: %u notifications, %s", static_cast<unsigned>(batch.size()),
             raise ? FrameEventName(event) : "the frame left alone");
  if (raise) Dispatch(event);
}

// ---- the command channel ---------------------------------------------------

int TouchPipeline::SendDeviceCommand() {
  std::shared_ptr<HidDevice> write;
  DeviceProfile profile;
  {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    if (!channel_.open || !channel_.write) return 0;
    write = channel_.write;
    // The copy: senders on other threads than the control side (the
    // calibration dialog, a reader after a read-back) never race a discovery.
    profile = profileCopy_;
  }
  commandBuffer_[0] = CommandReportId(profile);
  if (!write->Write(commandBuffer_.data(), kCommandSize)) {
    TRACE_WARN("write refused: command %02X %02X: %s", commandBuffer_[0], commandBuffer_[1],
               write->LastError().c_str());
    return 0;
  }
  // The buffer and the write record stay ours until the write completed.
  write->WaitWritesDone(kWriteTimeoutMs);
  return 1;
}

void TouchPipeline::Pause(std::uint32_t ms) {
  const double scaled = ms * pauseScale_.load();
  if (scaled > 0) std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(scaled));
}

void TouchPipeline::SetTouchOutput(bool on) {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  if (!IsTouchOutputRange(profile_.VersionNumber)) return;
  SendCommand([on](std::uint8_t* b) { FillTouchOutput(b, on); });
  Pause(100);
}

void TouchPipeline::SendSeriesMode(const SeriesModeBytes& bytes) {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  if (!profile_.Series01xx || !frame::HasFullSeriesMode(profile_.VersionNumber)) return;
  SendCommand([&bytes](std::uint8_t* buf) { FillSeriesMode(buf, bytes.b); });
}

void TouchPipeline::InitSeriesDevice() {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  if (!profile_.Series01xx) return;
  SendSeriesMode(SeriesInitMode(Mode()));
  Pause(200);
  // The answer fills the mode bytes on the reader thread.
  SendCommand(FillSeriesQuery);
}

void TouchPipeline::ApplyMouseEnable(bool on) {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  if (profile_.Series01xx) {
    SendSeriesMode(on ? SeriesMouseOnMode(Mode()) : SeriesMouseOffMode(Mode()));
  } else if (IsMultiTouch(profile_.VersionNumber)) {
    driver_.DisableTouch(window_.driverApiContext);
    if (on) {
      Pause(200);
      driver_.EnableTouch(window_.driverApiContext);
    }
    Pause(100);
  } else {
    SendCommand([on](std::uint8_t* b) { FillMouseMode(b, on, MOUSE_MODE_BY_USER); });
    Pause(100);
  }
}

void TouchPipeline::RequestCalibrationReadBack() {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  window_.awaitingReadBack = true;
  SendCommand(FillReadCalibration);
  Pause(100);
}

void TouchPipeline::SendExitCommands() {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  if (profile_.Series01xx) {
    const SeriesMode m = Mode();
    SendSeriesMode(SeriesStoredMode(m));
    SendSeriesMode(m.m[1] == 3 ? SeriesMouseOffMode(m) : SeriesStoredMode(m));
  } else if (IsOpen()) {
    SendCommand([](std::uint8_t* b) { FillMouseMode(b, true, MOUSE_MODE_AT_EXIT); });
  }
  Pause(100);
}

// ---- the reader threads ----------------------------------------------------

std::shared_ptr<HidDevice> TouchPipeline::HandleFor(ReaderRole role) const {
  switch (role) {
    case kSingleReader:
      return channel_.singleRead;
    case kReplyReader:
      return channel_.replyRead;
    default:
      return channel_.touchRead;
  }
}

void TouchPipeline::ReaderLoop(ReaderRole role) {
  std::array<std::uint8_t, kReportSize> own{};
  std::uint8_t* buffer = role == kSingleReader ? singleBuffer_.data() : own.data();
  // After a failed read the thread waits for the next open, not for the
  // same channel again: a frame that left fails every read at once.
  std::uint64_t generation = 0;
  bool failed = false;
  for (;;) {
    std::shared_ptr<HidDevice> handle;
    {
      std::unique_lock<std::mutex> lock(deviceMutex_);
      deviceChanged_.wait(lock, [&] {
        return stopping_ ||
               (channel_.open && HandleFor(role) && !(failed && generation == openGeneration_));
      });
      if (stopping_) return;
      handle = HandleFor(role);
      generation = openGeneration_;
      failed = false;
    }
    if (role != kSingleReader) std::memset(buffer, 0, kReportSize);
    std::size_t bytes = 0;
    HidIoStatus status = HidIoStatus::kFailed;
    if (handle->StartRead(buffer)) status = handle->WaitRead(platform::kWaitForever, bytes);
    bool open;
    {
      std::lock_guard<std::mutex> lock(deviceMutex_);
      if (status != HidIoStatus::kCompleted) {
        failed = true;
        TRACE_INFO("%s: read failed, waiting for the next open", ReaderName(role));
        continue;
      }
      open = channel_.open && !stopping_;
    }
    if (!open || bytes != kReportSize) continue;
    Route(role, buffer);
  }
}

void TouchPipeline::Route(ReaderRole role, const std::uint8_t* report) {
  std::lock_guard<std::mutex> route(routeMutex_);
  const ReaderFlags flags{window_.initialised, window_.calibrating, window_.awaitingReadBack};
  ReportAction action;
  switch (role) {
    case kReplyReader:
      action = RouteReplyReport(report, flags);
      break;
    case kTouchReader:
      action = RouteTouchReport(report, profile_, flags);
      break;
    default:
      action = RouteSingleReport(report, profile_, flags);
      break;
  }
  TRACE_DEBUG("%s: report %02X %02X -> action %d", ReaderName(role), report[0], report[1],
              static_cast<int>(action));
  switch (action) {
    case ReportAction::Ignore:
      break;
    case ReportAction::Decode:
      decoder_.DecodeTouchReport(window_, report);
      break;
    case ReportAction::CalibrationReply:
      window_.HandleCalibrationReply(report);
      break;
    case ReportAction::ReadBack:
      Dispatch(FrameEvent::ReadBack, FrameKind::None, report);
      break;
    case ReportAction::EnableButtons:
      Dispatch(FrameEvent::Reply);
      break;
    case ReportAction::SeriesMode:
      Dispatch(FrameEvent::ModeReport, FrameKind::None, report);
      break;
  }
}

// ---- state for the window and tests ----------------------------------------

bool TouchPipeline::IsOpen() const {
  std::lock_guard<std::mutex> lock(deviceMutex_);
  return channel_.open;
}

DeviceProfile TouchPipeline::Profile() const {
  std::lock_guard<std::mutex> lock(deviceMutex_);
  return profileCopy_;
}

SeriesMode TouchPipeline::Mode() const {
  std::lock_guard<std::mutex> lock(sessionMutex_);
  return mode_;
}

FrameState TouchPipeline::State() const {
  std::lock_guard<std::mutex> lock(sessionMutex_);
  return session_.State();
}

std::string TouchPipeline::SelectedPath() {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  return channel_.paths.path[0];
}
