#include "input/TouchPipeline.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/Clock.h"
#include "platform/Trace.h"

namespace {

// How long after a read-back's answer the answers to its earlier asks may
// still come: a frame that answered late answers each ask about as late.
constexpr std::uint32_t kLateReadBackMs = 2000;

// Steps of one transition as one trace line ("discover, start output"),
// formatted into the caller's buffer.
const char* StepList(const FrameSteps& steps, char* text, std::size_t size) {
  std::size_t used = 0;
  text[0] = '\0';
  for (FrameStep step : steps) {
    const int n =
        std::snprintf(text + used, size - used, "%s%s", used ? ", " : "", FrameStepName(step));
    if (n < 0 || static_cast<std::size_t>(n) >= size - used) break;
    used += static_cast<std::size_t>(n);
  }
  return used ? text : "no steps";
}

}  // namespace

TouchPipeline::TouchPipeline(platform::HidBackend& hid, PipelineState& state,
                             PipelineWindow& window, DriverApiPort& driver, OutputLifecycle* output,
                             VidPidSource vidPidSource)
    : hid_(hid),
      state_(state),
      window_(window),
      driver_(driver),
      output_(output),
      vidPidSource_(std::move(vidPidSource)) {}

TouchPipeline::~TouchPipeline() {
  CloseReaderThreadHandles();
}

// ---- the lifecycle ---------------------------------------------------------

void TouchPipeline::StartTouchPipeline() {
  if (State() != FrameState::kNotStarted) return;
  changes_.Start();
  hid_.SetChangeCallback(
      [this](platform::HidChange change, const std::string& name) { changes_.Post(change, name); });
  Command c{Command::kStartUp};
  Run(c);
}

void TouchPipeline::CompleteStartUp(bool mouseEnable) {
  Command c{Command::kCompleteStartUp};
  c.flag = mouseEnable;
  Run(c);
}

void TouchPipeline::ShutDown() {
  Command c{Command::kShutDown};
  Run(c);
}

void TouchPipeline::ApplyMouseEnable(bool on) {
  Command c{Command::kMouseEnable};
  c.flag = on;
  Run(c);
}

void TouchPipeline::RequestCalibrationReadBack() {
  Command c{Command::kReadBack};
  Run(c);
}

void TouchPipeline::Run(Command& c) {
  if (!changes_.Call(c)) RunCommand(c);
}

void TouchPipeline::OnControl(void (*fn)(void*, std::uint8_t*), void* context) {
  Command c{Command::kCall};
  c.fill = fn;
  c.context = context;
  Run(c);
}

void TouchPipeline::RunCommand(Command& c) {
  switch (c.kind) {
    case Command::kStartUp:
      if (session_.State() == FrameState::kNotStarted) Dispatch(FrameEvent::kStartUp);
      break;
    case Command::kCompleteStartUp:
      state_.mouseEnable = c.flag;
      Dispatch(FrameEvent::kStartUpComplete);
      break;
    case Command::kShutDown:
      Dispatch(FrameEvent::kExit);
      break;
    case Command::kMouseEnable:
      SetMouseEnable(c.flag);
      break;
    case Command::kReadBack:
      ReadBack();
      break;
    case Command::kSend:
      c.result = commands_.Send([&c](std::uint8_t* b) { c.fill(c.context, b); });
      Pause(c.pauseMs);
      break;
    case Command::kCall:
      c.fill(c.context, nullptr);
      break;
  }
}

void TouchPipeline::Rescan() {
  changes_.Post(platform::HidChange::kArrival, std::string());
}

void TouchPipeline::OnResume() {
  status_.RecordFault(FrameFault::kSleep, "the system resumed from sleep");
  changes_.Request(DeviceChangeQueue::kResume);
}

void TouchPipeline::StopDeviceChanges() {
  hid_.SetChangeCallback({});
  changes_.Stop();
  // Commands held for a mode report that no pass will handle now: their
  // callers run them.
  for (Command* c : held_) changes_.Abandon(*c);
  held_.clear();
}

void TouchPipeline::RunHeldCommands() {
  while (!held_.empty() && !session_.Waiting()) {
    Command* c = held_.front();
    held_.erase(held_.begin());
    RunCommand(*c);
    changes_.Complete(*c);
  }
  if (!client_) clientDue_ = 0;
  if (clientDue_ == 0 || session_.Waiting()) return;
  const bool tick = (clientDue_ & DeviceChangeQueue::kClientTick) != 0;
  clientDue_ = 0;
  client_->OnControl(tick);
}

void TouchPipeline::SetControlClient(ControlClient* client, std::uint32_t tickMs) {
  OnControlThread([&] {
    client_ = client;
    clientDue_ = 0;
    changes_.ClientTickEvery(client ? tickMs : 0);
  });
}

void TouchPipeline::CloseReaderThreadHandles() {
  StopDeviceChanges();
  frame_.Stop();
}

void TouchPipeline::Dispatch(FrameEvent event, FrameKind kind, const std::uint8_t* report,
                             const DeviceProfile* reportProfile) {
  // A question (discover, look for the frame) ends its event's steps; its
  // answer is the next event, fed here in turn rather than from inside the step.
  for (bool answered = true; answered;) {
    answered = false;
    for (FrameStep step : Feed(event, kind)) {
      if (step == FrameStep::kDiscover) {
        DiscoverAndOpenFrame();
        event = FrameEvent::kDiscovered;
        kind = KindOf(frame_.Profile(), IsOpen());
      } else if (step == FrameStep::kLookForFrame) {
        if (!ListedFramePresent()) break;
        event = FrameEvent::kFramePresent;
      } else {
        Execute(step, report, reportProfile);
        continue;
      }
      report = nullptr;
      answered = true;
    }
    // The period the state wants starts once its steps (and their pauses) are done.
    const std::uint32_t timerMs = session_.TimerMs();
    if (timerMs != timerMs_) {
      changes_.TimerEvery(timerMs_ = timerMs);
      timerSet_ = true;
    }
  }
}

FrameSteps TouchPipeline::Feed(FrameEvent event, FrameKind kind) {
  const FrameState before = session_.State();
  const FrameSteps steps = session_.On(event, kind);
  const FrameState after = session_.State();
  publishedState_.store(after, std::memory_order_release);
  char text[512];
  if (after != before) {
    TRACE_INFO("frame: %s: %s -> %s (%s)", FrameEventName(event), FrameStateName(before),
               FrameStateName(after), StepList(steps, text, sizeof text));
  } else if (steps.count == 0) {
    TRACE_INFO("frame: %s ignored in %s", FrameEventName(event), FrameStateName(after));
  } else {
    TRACE_DEBUG("frame: %s in %s (%s)", FrameEventName(event), FrameStateName(after),
                StepList(steps, text, sizeof text));
  }
  return steps;
}

void TouchPipeline::Execute(FrameStep step, const std::uint8_t* report,
                            const DeviceProfile* reportProfile) {
  switch (step) {
    case FrameStep::kResetXmlEntries:
      if (output_) output_->ResetXmlEntries();
      break;
    case FrameStep::kDiscover:  // answered by Dispatch
    case FrameStep::kLookForFrame:
      break;
    case FrameStep::kCloseFrame:
      CloseTouchFrame();
      break;
    case FrameStep::kStartOutput:
      if (output_) output_->StartTouchOutput();
      outputStarts_.fetch_add(1, std::memory_order_release);
      break;
    case FrameStep::kStartOutputIfStopped:
      if (output_ && !output_->IsTouchOutputStarted()) {
        output_->StartTouchOutput();
        outputStarts_.fetch_add(1, std::memory_order_release);
      }
      break;
    case FrameStep::kStopOutput:
      if (output_) output_->StopTouchOutput();
      break;
    case FrameStep::kStopOutputIfStarted:
      if (output_ && output_->IsTouchOutputStarted()) output_->StopTouchOutput();
      break;
    case FrameStep::kStartReaders:
      StartReaderThreads();
      break;
    case FrameStep::kStartXmlListener:
      if (output_) output_->StartXmlListener();
      break;
    case FrameStep::kTouchOutputOn:
      SetTouchOutput(true);
      break;
    case FrameStep::kInitSeriesDevice:
      InitSeriesDevice();
      break;
    case FrameStep::kNoModeReport:
      TRACE_INFO("series: no mode report within 200 ms");
      break;
    case FrameStep::kSeriesModeMouseOn:
      SendSeriesMode(SeriesMouseOnMode(Mode()));
      break;
    case FrameStep::kApplyMouseEnable:
      SetMouseEnable(state_.mouseEnable);
      break;
    case FrameStep::kApplyMouseOn:
      SetMouseEnable(true);
      break;
    case FrameStep::kRequestReadBack:
      ReadBack();
      break;
    case FrameStep::kAskReadBackAgain:
      TRACE_WARN("read-back not answered: asking the frame again");
      ReadBack();
      break;
    case FrameStep::kAskReadBackLastTime:
      TRACE_WARN(
          "read-back not answered: asking the frame a last time; its touches wait for the answer");
      ReadBack();
      break;
    case FrameStep::kClearAwaitingReadBack:
      state_.awaitingReadBack = false;
      break;
    case FrameStep::kStoreReadBack: {
      if (readBackAsked_ > 1) {
        lateReadBacksUntil_ = platform::TickCount() + kLateReadBackMs;
        lateReadBacks_ = readBackAsked_ - 1;
      }
      readBackAsked_ = 0;
      // The block is stored, and each reader's copy swapped in, before the
      // flag switches the mapping on.
      const std::uint8_t valid = ApplyReadBack(report, state_.calibration);
      for (ReaderCalibration& c : calibrations_) c.Publish(state_.calibration);
      state_.calibrationValid = valid;
      break;
    }
    case FrameStep::kMouseModeAfterReadBack: {
      const bool mouse = state_.mouseEnable;
      commands_.Send(
          [mouse](std::uint8_t* b) { FillMouseMode(b, mouse, MOUSE_MODE_AFTER_READ_BACK); });
      Pause(100);
      break;
    }
    case FrameStep::kStoreSeriesMode:
      // The mode report came from a reader, of the open frame.
      ParseSeriesMode(report, reportProfile ? reportProfile->VersionNumber : 0, mode_);
      break;
    case FrameStep::kClearCalibrationValid:
      state_.calibrationValid = 0;
      break;
    case FrameStep::kLayoutWindow:
      window_.LayoutForDevice();
      break;
    case FrameStep::kEnableButtons:
      SetButtons(true, true, true);
      break;
    case FrameStep::kEnableMouseButton:
      SetButtons(false, true, true);
      break;
    case FrameStep::kDisableButtons:
      SetButtons(true, true, false);
      break;
    case FrameStep::kSetInitialised:
      state_.initialised = true;
      break;
    case FrameStep::kExitCommands:
      SendExitCommands();
      break;
  }
}

void TouchPipeline::SetButtons(bool calibration, bool mouse, bool on) {
  if (on && !session_.FrameOpen()) return;  // removed before the reply was handled
  if (calibration) window_.EnableCalibrationButton(on);
  if (mouse) window_.EnableMouseButton(on);
}

// ---- discovery, open, close ------------------------------------------------

void TouchPipeline::DiscoverAndOpenFrame() {
  if (IsOpen()) CloseTouchFrame();
  vidPidSource_(vidPidList_);
  const std::vector<platform::HidInterfaceInfo> interfaces = hid_.Enumerate();
  knownPaths_.clear();
  for (const platform::HidInterfaceInfo& info : interfaces) knownPaths_.push_back(info.path);
  DeviceProfile profile = frame_.Profile();
  const std::size_t found = DiscoverTouchFrame(interfaces, vidPidList_, profile, paths_);
  frame_.SetProfile(profile);  // the channel is closed here
  if (found != 0) {
    TRACE_INFO("discovery: %u interfaces, frame %04X:%04X version %04X, %u usable, opening %s",
               static_cast<unsigned>(interfaces.size()), profile.VendorID, profile.ProductID,
               profile.VersionNumber, static_cast<unsigned>(found), paths_.path[0].c_str());
    OpenTouchFrame(0);
  } else {
    TRACE_INFO("discovery: %u interfaces, no usable interface of a listed frame",
               static_cast<unsigned>(interfaces.size()));
  }
}

void TouchPipeline::OpenTouchFrame(std::size_t index) {
  if (!frame_.OpenHandles(paths_, index)) {
    CloseTouchFrame();
    return;
  }
  const DeviceProfile profile = frame_.Profile();
  // The outputs learn the frame's traits before its first record.
  if (output_) output_->DeviceOpened(profile);
  status_.Opened(profile, paths_.path[index < kMaxDevicePaths ? index : 0]);
  // Asks of a frame closed since are owed nothing by this one.
  readBackAsked_ = 0;
  lateReadBacks_ = 0;
  frame_.MarkOpen();
}

void TouchPipeline::CloseTouchFrame() {
  // Absent at once: the status tells a removal before the closing commands'
  // pauses, and what the closing frame answers is no fault.
  status_.Closed();
  SetTouchOutput(false);  // acts only for the touch-output range
  frame_.Close();
}

void TouchPipeline::StartReaderThreads() {
  if (frame_.Profile().VendorID != frame::kReaderVendor) return;
  frame_.StartReaders();
}

void TouchPipeline::HandleDeviceChanges(const DeviceChangeBatch& batch, unsigned requests,
                                        const DeviceChangeQueue::HandedOverList& handedOver,
                                        const DeviceChangeQueue::CommandList& commands) {
  timerSet_ = false;
  // Read before the notifications that came after them.
  for (const DeviceChangeQueue::HandedOver& h : handedOver) HandleHandedOver(h);
  // The windows' commands, in the order they came; each caller returns as
  // its own is done. While the session waits (a mode report), they wait too.
  held_.insert(held_.end(), commands.begin(), commands.end());
  RunHeldCommands();
  if (!batch.empty()) {
    // Which of the arrived interfaces are a listed frame's, and whether the
    // open frame is still there.
    VidPidList list;
    std::vector<platform::HidInterfaceInfo> present;
    if (HasArrival(batch)) {
      vidPidSource_(list);
      present = hid_.Enumerate();
    }
    const FrameChanges c = SortDeviceChanges(batch, paths_.path[0], knownPaths_, present, list);
    // The open frame is gone: what is sent to it now fails and is not tried again.
    if (c.removal && IsOpen()) frame_.MarkRemoved();
    FrameEvent events[2];
    const std::size_t count = session_.EventsFor(c, events);
    TRACE_INFO("device changes: %u notifications, %s%s%s", static_cast<unsigned>(batch.size()),
               count ? FrameEventName(events[0]) : "the frame left alone", count > 1 ? ", " : "",
               count > 1 ? FrameEventName(events[1]) : "");
    for (std::size_t i = 0; i < count; ++i) Dispatch(events[i]);
  }
  // A reader gave up the frame that is still open (not one closed since).
  if ((requests & DeviceChangeQueue::kReadsFailed) && frame_.ReadsFailed())
    Dispatch(FrameEvent::kLost);
  if (requests & DeviceChangeQueue::kSendAgain) SendRefusedAgain();
  if (requests & DeviceChangeQueue::kResume) Dispatch(FrameEvent::kResume);
  // Not when the state set a new period since: that one counts from its start.
  if ((requests & DeviceChangeQueue::kTimer) && !timerSet_) Dispatch(FrameEvent::kTimer);
  // The wait may have ended; the client's turn, after what this pass changed.
  clientDue_ |= requests & (DeviceChangeQueue::kClient | DeviceChangeQueue::kClientTick);
  RunHeldCommands();
}

bool TouchPipeline::ListedFramePresent() {
  VidPidList list;
  vidPidSource_(list);
  for (const platform::HidInterfaceInfo& info : hid_.Enumerate()) {
    DeviceProfile scratch;
    if (MatchVidPid(list, info.vendorId, info.productId, scratch)) return true;
  }
  return false;
}

// ---- the commands ----------------------------------------------------------

namespace {
// The pause before a refused command's next try, doubling up to a second.
constexpr std::uint32_t kFirstSendAgainMs = 50;
constexpr std::uint32_t kLongestSendAgainMs = 1000;
}  // namespace

template <class Fill>
int TouchPipeline::SendKept(const char* name, Fill fill) {
  for (auto it = refused_.begin(); it != refused_.end(); ++it) {
    if (std::strcmp(it->name, name) == 0) {
      refused_.erase(it);
      break;
    }
  }
  RefusedCommand c{name, 1, {}};
  const CommandChannel::Outcome outcome = commands_.Deliver(fill, c.bytes.data());
  if (outcome != CommandChannel::Outcome::kRefused || frame_.Removed() || !IsOpen())
    return outcome == CommandChannel::Outcome::kTaken;
  const std::uint64_t generation = frame_.OpenGeneration();
  if (refused_.empty() || refusedGeneration_ != generation) {
    refused_.clear();
    refusedGeneration_ = generation;
    sendAgainMs_ = kFirstSendAgainMs;
    changes_.SendAgainAfter(sendAgainMs_);
  }
  TRACE_WARN("%s refused: sending it again until the frame takes it", name);
  refused_.push_back(c);
  return 0;
}

void TouchPipeline::SendRefusedAgain() {
  if (refused_.empty()) return;
  if (!IsOpen() || frame_.Removed() || frame_.OpenGeneration() != refusedGeneration_) {
    TRACE_INFO("the frame left: %u refused commands are not sent again",
               static_cast<unsigned>(refused_.size()));
    refused_.clear();
    return;
  }
  // In the order they were refused; the first still refused waits for the
  // next try with those after it.
  while (!refused_.empty()) {
    RefusedCommand& c = refused_.front();
    ++c.tries;
    const auto copy = [&c](std::uint8_t* b) { std::copy(c.bytes.begin(), c.bytes.end(), b); };
    if (commands_.Deliver(copy) != CommandChannel::Outcome::kTaken) break;
    TRACE_INFO("%s taken after %u tries", c.name, c.tries);
    refused_.erase(refused_.begin());
  }
  if (refused_.empty()) return;
  sendAgainMs_ = sendAgainMs_ * 2 < kLongestSendAgainMs ? sendAgainMs_ * 2 : kLongestSendAgainMs;
  changes_.SendAgainAfter(sendAgainMs_);
}

bool TouchPipeline::HandleHandedOver(const DeviceChangeQueue::HandedOver& h) {
  // Read from a frame closed since (removed, lost, re-opened): its
  // calibration or modes are not the open frame's.
  if (!IsOpen() || h.generation != frame_.OpenGeneration()) {
    TRACE_INFO("%s of a frame closed since: dropped", FrameEventName(h.event));
    return false;
  }
  // A second answer handed over before the first was handled: the reader
  // decodes again and reads the block, which is not written under it.
  if (h.event == FrameEvent::kReadBack && !state_.awaitingReadBack) {
    TRACE_INFO("read-back not awaited: dropped");
    return false;
  }
  const DeviceProfile profile = frame_.Profile();
  Dispatch(h.event, FrameKind::kNone, h.report.data(), &profile);
  return true;
}

void TouchPipeline::SetTouchOutput(bool on) {
  if (!IsTouchOutputRange(frame_.Profile().VersionNumber)) return;
  const auto fill = [on](std::uint8_t* b) { FillTouchOutput(b, on); };
  // Off goes to a closing frame: nothing to keep trying.
  if (on) {
    SendKept("touch output on", fill);
  } else {
    commands_.Send(fill);
  }
  Pause(100);
}

void TouchPipeline::SendSeriesMode(const SeriesModeBytes& bytes, bool kept) {
  const DeviceProfile profile = frame_.Profile();
  if (!profile.Series01xx || !frame::HasFullSeriesMode(profile.VersionNumber)) return;
  const auto fill = [&bytes](std::uint8_t* buf) { FillSeriesMode(buf, bytes.b); };
  if (kept) {
    SendKept("series mode", fill);
  } else {
    commands_.Send(fill);
  }
}

void TouchPipeline::InitSeriesDevice() {
  if (!frame_.Profile().Series01xx) return;
  SendSeriesMode(SeriesInitMode(Mode()));
  Pause(200);
  // The answer, handed over by the reader, fills the mode bytes; the
  // commands that follow are built from them, so the session awaits it
  // (200 ms at most: a frame that does not answer keeps the bytes it had).
  SendKept("series mode query", FillSeriesQuery);
}

void TouchPipeline::SetMouseEnable(bool on) {
  const DeviceProfile profile = frame_.Profile();
  if (profile.Series01xx) {
    SendSeriesMode(on ? SeriesMouseOnMode(Mode()) : SeriesMouseOffMode(Mode()));
  } else if (IsMultiTouch(profile.VersionNumber)) {
    driver_.DisableTouch(state_.driverApiContext);
    if (on) {
      Pause(200);
      driver_.EnableTouch(state_.driverApiContext);
    }
    Pause(100);
  } else {
    SendKept("mouse mode", [on](std::uint8_t* b) { FillMouseMode(b, on, MOUSE_MODE_BY_USER); });
    Pause(100);
  }
}

void TouchPipeline::ReadBack() {
  ++readBackAsked_;
  lateReadBacks_ = 0;  // while it is awaited, any answer is the one
  state_.awaitingReadBack = true;
  SendKept("read calibration", FillReadCalibration);
  // The frame answers within the pause: its steps (the mouse mode among
  // them) go before the commands that follow, as they always did.
  const auto end = commands_.PauseEnd(100);
  for (DeviceChangeQueue::HandedOver h; changes_.TakeHandedOver(end, h);) HandleHandedOver(h);
  std::this_thread::sleep_until(end);
}

void TouchPipeline::SendExitCommands() {
  if (frame_.Profile().Series01xx) {
    const SeriesMode m = Mode();
    // The frame closes after these: nothing is kept trying.
    SendSeriesMode(SeriesStoredMode(m), false);
    SendSeriesMode(m.m[1] == 3 ? SeriesMouseOffMode(m) : SeriesStoredMode(m), false);
  } else if (IsOpen()) {
    commands_.Send([](std::uint8_t* b) { FillMouseMode(b, true, MOUSE_MODE_AT_EXIT); });
  }
  Pause(100);
}

// ---- the readers' reports --------------------------------------------------

void TouchPipeline::Route(ReaderRole role, const DeviceProfile& profile, std::uint64_t generation,
                          const std::uint8_t* report) {
  status_.CountReport();
  const ReaderFlags flags{state_.initialised, state_.calibrating, state_.awaitingReadBack};
  ReportAction action;
  switch (role) {
    case kReplyReader:
      action = RouteReplyReport(report, flags);
      break;
    case kTouchReader:
      action = RouteTouchReport(report, profile, flags);
      break;
    default:
      action = RouteSingleReport(report, profile, flags);
      break;
  }
  TRACE_DEBUG("%s: report %02X %02X -> action %d", ReaderName(role), report[0], report[1],
              static_cast<int>(action));
  switch (action) {
    case ReportAction::kIgnore:
      break;
    case ReportAction::kDecode: {
      if (role == kSingleReader && report[1] == 5 && LateReadBack()) {
        TRACE_INFO("%s: a second answer to a read-back asked again: dropped", ReaderName(role));
        break;
      }
      TouchDecoder& decoder = decoders_[role];
      const std::uint32_t starts = outputStarts_.load(std::memory_order_acquire);
      if (decodedStarts_[role] != starts) {
        decodedStarts_[role] = starts;
        decoder.ForgetTouches();
      }
      decoder.DecodeTouchReport(state_, profile, report, &calibrations_[role]);
      break;
    }
    case ReportAction::kCalibrationReply:
      window_.HandleCalibrationReply(report);
      break;
    case ReportAction::kReadBack:
      // Its steps send and pause: the control thread takes them.
      changes_.HandOver(FrameEvent::kReadBack, generation, report);
      break;
    case ReportAction::kEnableButtons:
      // Only while the frame it came from is the open one: the control thread's.
      changes_.HandOver(FrameEvent::kReply, generation, report);
      break;
    case ReportAction::kSeriesMode:
      changes_.HandOver(FrameEvent::kModeReport, generation, report);
      break;
  }
}

bool TouchPipeline::LateReadBack() {
  unsigned owed = lateReadBacks_.load(std::memory_order_acquire);
  // Past the window the owed answers are no longer looked for; only the
  // control thread sets them again (it would race a reset from here).
  if (owed == 0 ||
      static_cast<std::int32_t>(platform::TickCount() - lateReadBacksUntil_.load()) >= 0)
    return false;
  while (owed > 0)
    if (lateReadBacks_.compare_exchange_weak(owed, owed - 1)) return true;
  return false;
}

void TouchPipeline::OnReadFault(ReaderRole role, ReadFault fault, std::uint32_t ms,
                                unsigned failures, const std::string& why) {
  switch (fault) {
    case ReadFault::kFailing:
      TRACE_WARN("%s: read failed (%s), reading again", ReaderName(role), why.c_str());
      break;
    case ReadFault::kRecovered:
      status_.KeepReadFaults();
      TRACE_INFO("%s: reports flow again after %u ms (%u failed reads)", ReaderName(role),
                 static_cast<unsigned>(ms), failures);
      break;
    case ReadFault::kGone:
      TRACE_WARN("%s: every read failed for %u ms (%s): the frame counts as gone", ReaderName(role),
                 static_cast<unsigned>(ms), why.c_str());
      status_.KeepReadFaults();
      // The control thread closes it.
      changes_.Request(DeviceChangeQueue::kReadsFailed);
      break;
  }
}
