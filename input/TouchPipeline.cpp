#include "input/TouchPipeline.h"

#include <cctype>
#include <chrono>
#include <cstring>

namespace {

using platform::HidAccess;
using platform::HidDevice;
using platform::HidIoStatus;
using platform::HidShare;

constexpr std::uint16_t kReaderVendor = 0x3D5E;
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
  if (h) h->close();
  h.reset();
}

}  // namespace

TouchPipeline::TouchPipeline(platform::HidBackend& hid, MainWindowModel& window,
                             DriverApiPort& driver, TouchOutputControl* output,
                             std::string settingsPath)
    : hid_(hid),
      window_(window),
      driver_(driver),
      output_(output),
      settingsPath_(std::move(settingsPath)) {}

TouchPipeline::~TouchPipeline() {
  Stop();
}

// ---- start-up and shut-down ------------------------------------------------

void TouchPipeline::StartTouchPipeline() {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  if (started_) return;
  started_ = true;
  if (output_) output_->ResetXmlEntries();
  channel_.selectedIndex = 0;
  changeWorker_ = std::thread(&TouchPipeline::DeviceChangeLoop, this);
  hid_.setChangeCallback([this](platform::HidChange change, const std::string& name) {
    std::lock_guard<std::mutex> lock(changeMutex_);
    changes_.emplace_back(change, name);
    changeQueued_.notify_one();
  });
  DiscoverTouchFrame();
  if (output_) output_->StartTouchOutput();
  StartReaderThreads();
  SetTouchOutput(true);
  // Write completion is observed inside SendDeviceCommand; no watcher thread.
  if (output_) output_->StartXmlListener();
  if (profile_.Series01xx) InitSeriesDevice();
  const SeriesMode m = Mode();
  SendSeriesMode(m.m[0], m.m[1], m.m[2], 1, m.m[4]);
}

void TouchPipeline::CompleteStartUp(bool mouseEnable) {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  window_.mouseEnable = mouseEnable;
  ApplyMouseEnable(mouseEnable);
  window_.LayoutForDevice();
  if (IsOpen() && !profile_.Series01xx && IsSingleChannel(profile_.VersionNumber)) {
    RequestCalibrationReadBack();
  } else {
    window_.awaitingReadBack = false;
  }
  window_.initialised = true;
  window_.visible = false;
}

void TouchPipeline::ShutDown() {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  if (IsOpen()) {
    SendExitCommands();
    CloseTouchFrame();
  }
  ApplyMouseEnable(true);
  if (output_) output_->StopTouchOutput();
}

void TouchPipeline::StopDeviceChanges() {
  hid_.setChangeCallback({});
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
  LoadVidPidList(settingsPath_, vidPidList_);
  const std::vector<platform::HidInterfaceInfo> interfaces = hid_.enumerate();
  DeviceProfile profile = profile_;
  const std::size_t found = ::DiscoverTouchFrame(interfaces, vidPidList_, profile, channel_.paths);
  {
    std::lock_guard<std::mutex> route(routeMutex_);
    profile_ = profile;
  }
  {
    std::lock_guard<std::mutex> lock(profileCopyMutex_);
    profileCopy_ = profile;
  }
  if (found != 0) OpenTouchFrame(channel_.selectedIndex);
  channel_.selectedIndex = 0;
}

void TouchPipeline::OpenTouchFrame(std::size_t index) {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  const auto open = [this](const std::string& path, HidAccess access) {
    return path.empty() ? nullptr
                        : std::shared_ptr<HidDevice>(hid_.open(path, access, HidShare::kShared));
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
  const bool split = IsSplitChannel(profile_.VersionNumber);
  // SetTouchOutput acts only for its own version ranges.
  if (split || profile_.VersionNumber >= 0x2101) SetTouchOutput(false);
  std::lock_guard<std::mutex> lock(deviceMutex_);
  if (split) {
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

// ---- device changes --------------------------------------------------------

void TouchPipeline::OnDeviceArrival() {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  window_.calibrationValid = 0;
  DiscoverTouchFrame();
  if (!IsOpen()) {
    window_.awaitingReadBack = false;
    window_.EnableCalibrationButton(false);
    window_.EnableMouseButton(false);
    return;
  }
  window_.LayoutForDevice();
  if (output_ && !output_->IsTouchOutputStarted()) output_->StartTouchOutput();
  StartReaderThreads();
  if (profile_.Series01xx) {
    InitSeriesDevice();
    window_.EnableMouseButton(true);
    const SeriesMode m = Mode();
    SendSeriesMode(m.m[0], m.m[1], m.m[2], 1, m.m[4]);
  } else if (IsSplitChannel(profile_.VersionNumber)) {
    window_.awaitingReadBack = false;
    window_.EnableCalibrationButton(true);
    window_.EnableMouseButton(true);
  } else {
    // The buttons stay disabled until the read-back arrives.
    RequestCalibrationReadBack();
  }
  SetTouchOutput(true);
  ApplyMouseEnable(window_.mouseEnable);
}

void TouchPipeline::OnDeviceRemoval(const std::string& interfaceName) {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  if (!SamePathIgnoringCase(interfaceName, channel_.paths.path[0])) return;
  if (IsOpen()) {
    CloseTouchFrame();
    std::lock_guard<std::mutex> lock(buttonsMutex_);
    window_.EnableCalibrationButton(false);
    window_.EnableMouseButton(false);
  }
  window_.calibrationValid = 0;
  // Another listed frame may be present; it is opened, but the outputs stay
  // stopped until the next arrival.
  DiscoverTouchFrame();
  if (output_ && output_->IsTouchOutputStarted()) output_->StopTouchOutput();
}

void TouchPipeline::DeviceChangeLoop() {
  std::unique_lock<std::mutex> lock(changeMutex_);
  for (;;) {
    changeQueued_.wait(lock, [this] { return changeWorkerStop_ || !changes_.empty(); });
    if (changeWorkerStop_) return;
    const auto change = changes_.front();
    changes_.pop_front();
    lock.unlock();
    if (change.first == platform::HidChange::kArrival) {
      OnDeviceArrival();
    } else {
      OnDeviceRemoval(change.second);
    }
    lock.lock();
  }
}

// ---- the command channel ---------------------------------------------------

int TouchPipeline::SendDeviceCommand() {
  std::shared_ptr<HidDevice> write;
  {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    if (!channel_.open || !channel_.write) return 0;
    write = channel_.write;
  }
  // The copy: senders on other threads than the control side (the calibration
  // dialog, a reader after a read-back) never race a discovery.
  commandBuffer_[0] = CommandReportId(Profile());
  if (!write->write(commandBuffer_.data(), kCommandSize)) return 0;
  // The buffer and the write record stay ours until the write completed.
  write->waitWritesDone(kWriteTimeoutMs);
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

void TouchPipeline::SendSeriesMode(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2,
                                   std::uint8_t b3, std::uint8_t b4) {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  if (!profile_.Series01xx || profile_.VersionNumber < 0x0201) return;
  const std::uint8_t b[5] = {b0, b1, b2, b3, b4};
  SendCommand([&b](std::uint8_t* buf) { FillSeriesMode(buf, b); });
}

void TouchPipeline::InitSeriesDevice() {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  if (!profile_.Series01xx) return;
  SendSeriesMode(Mode().m[0], 1, 3, 0, 0);
  Pause(200);
  // The answer fills the mode bytes on the reader thread.
  SendCommand(FillSeriesQuery);
}

void TouchPipeline::ApplyMouseEnable(bool on) {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  if (profile_.Series01xx) {
    const SeriesMode m = Mode();
    if (on) {
      SendSeriesMode(m.m[0], m.m[1], m.m[2], 1, m.m[4]);
    } else {
      SendSeriesMode(m.m[0], 3, 0, 1, 0);
    }
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
    const SeriesMode s = Mode();
    const std::uint8_t* m = s.m;
    SendSeriesMode(m[0], m[1], m[2], m[3], m[4]);
    if (m[1] == 3) {
      SendSeriesMode(m[0], 3, 0, 1, 0);
    } else {
      SendSeriesMode(m[0], m[1], m[2], m[3], m[4]);
    }
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
    if (handle->startRead(buffer)) status = handle->waitRead(platform::kWaitForever, bytes);
    bool open;
    {
      std::lock_guard<std::mutex> lock(deviceMutex_);
      if (status != HidIoStatus::kCompleted) {
        failed = true;
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
      RunReadBack(report);
      break;
    case ReportAction::EnableButtons:
      EnableButtonsIfOpen(true, true);
      break;
    case ReportAction::SeriesMode: {
      std::lock_guard<std::mutex> lock(modeMutex_);
      ParseSeriesMode(report, profile_.VersionNumber, mode_);
    }
      EnableButtonsIfOpen(false, true);
      break;
  }
}

void TouchPipeline::RunReadBack(const std::uint8_t* report) {
  // The block is stored before the flag switches the mapping on.
  const std::uint8_t valid = ApplyReadBack(report, window_.calibration);
  window_.calibrationValid = valid;
  window_.awaitingReadBack = false;
  const bool mouse = window_.mouseEnable;
  SendCommand([mouse](std::uint8_t* b) { FillMouseMode(b, mouse, MOUSE_MODE_AFTER_READ_BACK); });
  Pause(100);
  EnableButtonsIfOpen(true, true);
}

void TouchPipeline::EnableButtonsIfOpen(bool calibration, bool mouse) {
  std::lock_guard<std::mutex> lock(buttonsMutex_);
  if (!IsOpen()) return;  // removed while the reply was handled
  if (calibration) window_.EnableCalibrationButton(true);
  if (mouse) window_.EnableMouseButton(true);
}

// ---- state for the window and tests ----------------------------------------

bool TouchPipeline::IsOpen() const {
  std::lock_guard<std::mutex> lock(deviceMutex_);
  return channel_.open;
}

DeviceProfile TouchPipeline::Profile() const {
  std::lock_guard<std::mutex> lock(profileCopyMutex_);
  return profileCopy_;
}

SeriesMode TouchPipeline::Mode() const {
  std::lock_guard<std::mutex> lock(modeMutex_);
  return mode_;
}

std::string TouchPipeline::SelectedPath() {
  std::lock_guard<std::recursive_mutex> control(controlMutex_);
  return channel_.paths.path[0];
}
