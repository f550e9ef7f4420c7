#include "input/FrameSession.h"

#include "input/Discovery.h"

using S = FrameStep;

FrameKind KindOf(const DeviceProfile& profile, bool open) {
  if (!open) return FrameKind::kNone;
  if (profile.Series01xx) return FrameKind::kSeries01xx;
  if (IsSplitChannel(profile.VersionNumber)) return FrameKind::kSplitChannel;
  return FrameKind::kSingleChannel;
}

namespace {
#define VANTREL_FRAME_NAME(name, text, ...) text,
constexpr const char* kStateNames[] = {VANTREL_FRAME_STATES(VANTREL_FRAME_NAME)};
constexpr const char* kEventNames[] = {VANTREL_FRAME_EVENTS(VANTREL_FRAME_NAME)};
constexpr const char* kStepNames[] = {VANTREL_FRAME_STEPS(VANTREL_FRAME_NAME)};
#undef VANTREL_FRAME_NAME

template <class Enum, std::size_t N>
const char* NameOf(const char* const (&names)[N], Enum value) {
  const auto i = static_cast<std::size_t>(value);
  return i < N ? names[i] : "?";
}
}  // namespace

const char* FrameStateName(FrameState state) {
  return NameOf(kStateNames, state);
}

const char* FrameEventName(FrameEvent event) {
  return NameOf(kEventNames, event);
}

const char* FrameStepName(FrameStep step) {
  return NameOf(kStepNames, step);
}

FrameSteps FrameSession::On(FrameEvent event, FrameKind kind) {
  using Handler = FrameSteps (FrameSession::*)(FrameEvent, FrameKind);
#define VANTREL_FRAME_HANDLER(name, text, handler) &FrameSession::handler,
  static constexpr Handler kHandlers[] = {VANTREL_FRAME_STATES(VANTREL_FRAME_HANDLER)};
#undef VANTREL_FRAME_HANDLER
  return (this->*kHandlers[static_cast<std::size_t>(state_)])(event, kind);
}

// ---- one handler per state -------------------------------------------------

FrameSteps FrameSession::OnNotStarted(FrameEvent event, FrameKind) {
  if (event != FrameEvent::kStartUp) return InAnyState(event);
  FrameSteps s;
  purpose_ = Purpose::kStartUp;
  state_ = FrameState::kDiscovering;
  s.Add(S::kResetXmlEntries);
  s.Add(S::kDiscover);
  return s;
}

FrameSteps FrameSession::OnDiscovering(FrameEvent event, FrameKind kind) {
  switch (event) {
    case FrameEvent::kDiscovered:
      return Discovered(kind);
    case FrameEvent::kStartUpComplete:
      return CompleteStartUp();
    case FrameEvent::kArrival:
      return Arrival();
    case FrameEvent::kRemoval:
      return Removal();
    case FrameEvent::kStartUp:
    case FrameEvent::kLost:    // the discovery decides
    case FrameEvent::kResume:  // ... and re-opens what it finds
      return FrameSteps();
    default:
      return InAnyState(event);
  }
}

FrameSteps FrameSession::OnStarting(FrameEvent event, FrameKind) {
  switch (event) {
    case FrameEvent::kStartUpComplete:
      return CompleteStartUp();
    case FrameEvent::kArrival:
      return Arrival();
    case FrameEvent::kRemoval:
      return Removal();
    case FrameEvent::kLost:
      return Lost();
    case FrameEvent::kResume:
      return FrameOpen() ? Arrival() : FrameSteps();
    case FrameEvent::kStartUp:
    case FrameEvent::kDiscovered:
      return FrameSteps();
    default:
      return InAnyState(event);
  }
}

FrameSteps FrameSession::OnAwaitingModeReport(FrameEvent event, FrameKind) {
  switch (event) {
    case FrameEvent::kModeReport: {
      FrameSteps s = InAnyState(event);
      return AfterModeReport(s);
    }
    case FrameEvent::kTimer: {
      FrameSteps s;
      s.Add(S::kNoModeReport);  // it keeps the mode bytes it had
      return AfterModeReport(s);
    }
    case FrameEvent::kArrival:
    case FrameEvent::kResume:
      return Arrival();
    case FrameEvent::kRemoval:
      return Removal();
    case FrameEvent::kLost:
      return Lost();
    default:
      return InAnyState(event);
  }
}

FrameSteps FrameSession::AfterModeReport(FrameSteps s) {
  for (FrameStep step : afterModeReport_) s.Add(step);
  afterModeReport_.count = 0;
  SettleOpenState();
  return s;
}

FrameSteps FrameSession::OnStarted(FrameEvent event, FrameKind) {
  switch (event) {
    case FrameEvent::kArrival:
      return Arrival();
    case FrameEvent::kRemoval:
      return Removal();
    case FrameEvent::kLost:
      return Lost();
    // The frame lost its volatile state in the sleep: its arrival steps run again.
    case FrameEvent::kResume:
      return FrameOpen() ? Arrival() : FrameSteps();
    case FrameEvent::kTimer:
      return Timer();
    case FrameEvent::kFramePresent:  // a lost frame answers again
      return LookingAgain() ? Arrival() : FrameSteps();
    case FrameEvent::kStartUp:
    case FrameEvent::kDiscovered:
    case FrameEvent::kStartUpComplete:  // once: an arrival may have come since
      return FrameSteps();
    default:
      return InAnyState(event);
  }
}

FrameSteps FrameSession::OnClosed(FrameEvent, FrameKind) {
  return FrameSteps();
}

// ---- the transitions -------------------------------------------------------

FrameSteps FrameSession::CompleteStartUp() {
  FrameSteps s;
  // An arrival may have been handled since the start-up's discovery.
  if (initialised_) return s;
  initialised_ = true;
  s.Add(S::kApplyMouseEnable);
  s.Add(S::kLayoutWindow);
  awaitingReadBack_ = kind_ == FrameKind::kSingleChannel;
  if (awaitingReadBack_) {
    RequestReadBack(s);
  } else {
    s.Add(S::kClearAwaitingReadBack);
  }
  s.Add(S::kSetInitialised);
  // The two commands start-up sends a split-channel frame have no reply
  // that would enable the buttons; the frame is there, as on arrival.
  if (kind_ == FrameKind::kSplitChannel) s.Add(S::kEnableButtons);
  SettleOpenState();
  return s;
}

FrameSteps FrameSession::Arrival() {
  // Discovery reads what is present now, so it also re-opens the frame.
  FrameSteps s;
  purpose_ = Purpose::kArrival;
  state_ = FrameState::kDiscovering;
  // The discovery closes the open frame; if it finds none, that frame
  // went without its removal having come.
  lost_ = lost_ || FrameOpen();
  kind_ = FrameKind::kNone;
  s.Add(S::kClearCalibrationValid);
  s.Add(S::kDiscover);
  return s;
}

FrameSteps FrameSession::Removal() {
  FrameSteps s;
  if (FrameOpen()) {
    s.Add(S::kCloseFrame);
    s.Add(S::kDisableButtons);
  }
  purpose_ = Purpose::kRemoval;
  state_ = FrameState::kDiscovering;
  kind_ = FrameKind::kNone;
  // Gone for good: its arrival will be notified, nothing is looked for.
  lost_ = false;
  s.Add(S::kClearCalibrationValid);
  // The outputs stop now (empty bundles, a lift document), so a finger
  // held at the unplug is lifted whatever the discovery finds.
  s.Add(S::kStopOutputIfStarted);
  // Another listed frame may be present, or this one back already.
  s.Add(S::kDiscover);
  return s;
}

FrameSteps FrameSession::Lost() {
  // As a removal, without the discovery: the frame is looked for again
  // later, and the outputs stop now (empty bundles, a lift document).
  FrameSteps s;
  if (!FrameOpen()) return s;
  s.Add(S::kCloseFrame);
  s.Add(S::kDisableButtons);
  s.Add(S::kClearCalibrationValid);
  s.Add(S::kStopOutputIfStarted);
  kind_ = FrameKind::kNone;
  lost_ = true;
  SettleOpenState();
  return s;
}

FrameSteps FrameSession::InAnyState(FrameEvent event) {
  FrameSteps s;
  switch (event) {
    case FrameEvent::kReadBack:
      awaitingReadBack_ = false;
      s.Add(S::kStoreReadBack);
      s.Add(S::kClearAwaitingReadBack);
      s.Add(S::kMouseModeAfterReadBack);
      s.Add(S::kEnableButtons);
      if (state_ == FrameState::kAwaitingReadBack) state_ = FrameState::kReady;
      break;

    case FrameEvent::kModeReport:
      s.Add(S::kStoreSeriesMode);
      s.Add(S::kEnableMouseButton);
      break;

    case FrameEvent::kReply:
      s.Add(S::kEnableButtons);
      break;

    case FrameEvent::kExit:
      if (FrameOpen()) {
        s.Add(S::kExitCommands);
        s.Add(S::kCloseFrame);
      }
      s.Add(S::kApplyMouseOn);
      s.Add(S::kStopOutput);
      kind_ = FrameKind::kNone;
      lost_ = false;
      state_ = FrameState::kClosed;
      break;

    default:  // each state handles the others itself
      break;
  }
  return s;
}

std::size_t FrameSession::EventsFor(const FrameChanges& c, FrameEvent (&events)[2]) const {
  if (state_ == FrameState::kNotStarted || state_ == FrameState::kClosed) return 0;
  if (c.removal) {
    // The open frame left (and may be back, or another listed frame be
    // present): its outputs stop, one discovery, and what it opens starts
    // as an arrival does. Nothing is looked for afterwards.
    events[0] = FrameEvent::kRemoval;
    return 1;
  }
  // A listed frame's arrival, or any arrival while no frame is open: the
  // full re-discovery, once.
  if (c.listedArrival || (c.otherArrival && !(FrameOpen() && c.openFramePresent))) {
    events[0] = FrameEvent::kArrival;
    return 1;
  }
  return 0;
}

FrameSteps FrameSession::Discovered(FrameKind kind) {
  FrameSteps s;
  afterModeReport_.count = 0;
  kind_ = kind;
  if (kind != FrameKind::kNone) lost_ = false;
  switch (purpose_) {
    case Purpose::kStartUp:
      s.Add(S::kStartOutput);
      s.Add(S::kStartReaders);
      s.Add(S::kTouchOutputOn);
      s.Add(S::kStartXmlListener);
      if (kind == FrameKind::kSeries01xx) {
        s.Add(S::kInitSeriesDevice);
        afterModeReport_.Add(S::kSeriesModeMouseOn);
        state_ = FrameState::kAwaitingModeReport;
        return s;
      }
      break;

    case Purpose::kRemoval:
      // Nothing found: the outputs stopped with the removal.
      if (kind == FrameKind::kNone) break;
      // A frame opened here (another one, or this one replugged before its
      // removal was handled) starts as on arrival: its arrival may have been
      // notified already, and an open frame left silent is a dead kiosk.
      [[fallthrough]];
    case Purpose::kArrival:
      if (kind == FrameKind::kNone) {
        awaitingReadBack_ = false;
        s.Add(S::kClearAwaitingReadBack);
        s.Add(S::kDisableButtons);
        // A frame closed here is looked for again, its outputs stopped.
        if (lost_) s.Add(S::kStopOutputIfStarted);
        break;
      }
      s.Add(S::kLayoutWindow);
      s.Add(S::kStartOutputIfStopped);
      s.Add(S::kStartReaders);
      switch (kind) {
        case FrameKind::kSeries01xx:
          s.Add(S::kInitSeriesDevice);
          afterModeReport_.Add(S::kEnableMouseButton);
          afterModeReport_.Add(S::kSeriesModeMouseOn);
          afterModeReport_.Add(S::kTouchOutputOn);
          afterModeReport_.Add(S::kApplyMouseEnable);
          state_ = FrameState::kAwaitingModeReport;
          return s;
        case FrameKind::kSplitChannel:
          awaitingReadBack_ = false;
          s.Add(S::kClearAwaitingReadBack);
          s.Add(S::kEnableButtons);
          break;
        default:
          // The buttons stay disabled until the read-back arrives.
          awaitingReadBack_ = true;
          RequestReadBack(s);
          break;
      }
      s.Add(S::kTouchOutputOn);
      s.Add(S::kApplyMouseEnable);
      break;
  }
  SettleOpenState();
  return s;
}

void FrameSession::RequestReadBack(FrameSteps& s) {
  readBackAsks_ = 0;
  s.Add(S::kRequestReadBack);
}

FrameSteps FrameSession::Timer() {
  FrameSteps s;
  if (LookingAgain()) {
    s.Add(S::kLookForFrame);
  } else if (state_ == FrameState::kAwaitingReadBack && readBackAsks_ < kReadBackAsks) {
    // Touches are not decoded until the answer comes.
    s.Add(++readBackAsks_ < kReadBackAsks ? S::kAskReadBackAgain : S::kAskReadBackLastTime);
  }
  return s;
}

std::uint32_t FrameSession::TimerMs() const {
  if (Waiting()) return kModeReportMs;
  const bool askAgain = state_ == FrameState::kAwaitingReadBack && readBackAsks_ < kReadBackAsks;
  return LookingAgain() || askAgain ? kTimerMs : 0;
}

void FrameSession::SettleOpenState() {
  if (!initialised_) {
    state_ = FrameState::kStarting;
  } else if (kind_ == FrameKind::kNone) {
    state_ = FrameState::kAbsent;
  } else {
    state_ = awaitingReadBack_ ? FrameState::kAwaitingReadBack : FrameState::kReady;
  }
}

FrameChanges SortDeviceChanges(const DeviceChangeBatch& batch, const std::string& opened,
                               std::vector<std::string>& knownPaths,
                               const std::vector<platform::HidInterfaceInfo>& present,
                               const VidPidList& list) {
  FrameChanges c;
  bool arrivals = false;
  for (const DeviceChange& change : batch) {
    if (change.change == platform::HidChange::kArrival) {
      arrivals = true;
      c.removalLast = false;
    } else {
      for (std::string& known : knownPaths) {
        if (SamePathIgnoringCase(known, change.name)) known.clear();
      }
      if (SamePathIgnoringCase(change.name, opened)) c.removal = c.removalLast = true;
    }
  }
  if (!arrivals) return c;
  c.openFramePresent = false;
  for (const platform::HidInterfaceInfo& info : present) {
    if (!opened.empty() && SamePathIgnoringCase(info.path, opened)) c.openFramePresent = true;
  }
  for (const DeviceChange& change : batch) {
    if (change.change != platform::HidChange::kArrival) continue;
    bool known = false;
    for (const std::string& k : knownPaths) known = known || SamePathIgnoringCase(k, change.name);
    bool listed = false;
    for (const platform::HidInterfaceInfo& info : present) {
      DeviceProfile scratch;
      if (SamePathIgnoringCase(info.path, change.name) &&
          MatchVidPid(list, info.vendorId, info.productId, scratch)) {
        listed = true;
      }
    }
    (listed && !known ? c.listedArrival : c.otherArrival) = true;
  }
  return c;
}
