#include "input/FrameSession.h"

#include "input/Discovery.h"

using S = FrameStep;

FrameKind KindOf(const DeviceProfile& profile, bool open) {
  if (!open) return FrameKind::None;
  if (profile.Series01xx) return FrameKind::Series01xx;
  if (IsSplitChannel(profile.VersionNumber)) return FrameKind::SplitChannel;
  return FrameKind::SingleChannel;
}

const char* FrameStateName(FrameState state) {
  switch (state) {
    case FrameState::NotStarted:
      return "not started";
    case FrameState::Discovering:
      return "discovering";
    case FrameState::Starting:
      return "starting";
    case FrameState::Absent:
      return "absent";
    case FrameState::AwaitingReadBack:
      return "awaiting read-back";
    case FrameState::Ready:
      return "ready";
    case FrameState::Closed:
      return "closed";
  }
  return "?";
}

const char* FrameEventName(FrameEvent event) {
  switch (event) {
    case FrameEvent::StartUp:
      return "start-up";
    case FrameEvent::Discovered:
      return "discovered";
    case FrameEvent::StartUpComplete:
      return "start-up complete";
    case FrameEvent::Arrival:
      return "arrival";
    case FrameEvent::Removal:
      return "removal";
    case FrameEvent::ReadBack:
      return "read-back";
    case FrameEvent::ModeReport:
      return "mode report";
    case FrameEvent::Reply:
      return "reply";
    case FrameEvent::Exit:
      return "exit";
    case FrameEvent::Lost:
      return "lost";
  }
  return "?";
}

const char* FrameStepName(FrameStep step) {
  switch (step) {
    case FrameStep::ResetXmlEntries:
      return "reset xml entries";
    case FrameStep::Discover:
      return "discover";
    case FrameStep::CloseFrame:
      return "close frame";
    case FrameStep::StartOutput:
      return "start output";
    case FrameStep::StartOutputIfStopped:
      return "start output if stopped";
    case FrameStep::StopOutput:
      return "stop output";
    case FrameStep::StopOutputIfStarted:
      return "stop output if started";
    case FrameStep::StartReaders:
      return "start readers";
    case FrameStep::StartXmlListener:
      return "start xml listener";
    case FrameStep::TouchOutputOn:
      return "touch output on";
    case FrameStep::InitSeriesDevice:
      return "init series device";
    case FrameStep::SeriesModeMouseOn:
      return "series mode mouse on";
    case FrameStep::ApplyMouseEnable:
      return "apply mouse enable";
    case FrameStep::ApplyMouseOn:
      return "apply mouse on";
    case FrameStep::RequestReadBack:
      return "request read back";
    case FrameStep::ClearAwaitingReadBack:
      return "clear awaiting read back";
    case FrameStep::StoreReadBack:
      return "store read back";
    case FrameStep::MouseModeAfterReadBack:
      return "mouse mode after read back";
    case FrameStep::StoreSeriesMode:
      return "store series mode";
    case FrameStep::ClearCalibrationValid:
      return "clear calibration valid";
    case FrameStep::LayoutWindow:
      return "layout window";
    case FrameStep::EnableButtons:
      return "enable buttons";
    case FrameStep::EnableMouseButton:
      return "enable mouse button";
    case FrameStep::DisableButtons:
      return "disable buttons";
    case FrameStep::SetInitialised:
      return "set initialised";
    case FrameStep::ExitCommands:
      return "exit commands";
  }
  return "?";
}

FrameSteps FrameSession::On(FrameEvent event, FrameKind kind) {
  FrameSteps s;
  if (state_ == FrameState::Closed) return s;
  switch (event) {
    case FrameEvent::StartUp:
      if (state_ != FrameState::NotStarted) break;
      purpose_ = Purpose::StartUp;
      state_ = FrameState::Discovering;
      s.Add(S::ResetXmlEntries);
      s.Add(S::Discover);
      break;

    case FrameEvent::Discovered:
      if (state_ == FrameState::Discovering) s = Discovered(kind);
      break;

    case FrameEvent::StartUpComplete:
      // An arrival may have been handled since the start-up's discovery.
      if (initialised_ || state_ == FrameState::NotStarted) break;
      initialised_ = true;
      s.Add(S::ApplyMouseEnable);
      s.Add(S::LayoutWindow);
      awaitingReadBack_ = kind_ == FrameKind::SingleChannel;
      s.Add(awaitingReadBack_ ? S::RequestReadBack : S::ClearAwaitingReadBack);
      s.Add(S::SetInitialised);
      // The two commands start-up sends a split-channel frame have no reply
      // that would enable the buttons; the frame is there, as on arrival.
      if (kind_ == FrameKind::SplitChannel) s.Add(S::EnableButtons);
      SettleOpenState();
      break;

    case FrameEvent::Arrival:
      // Discovery reads what is present now, so it also re-opens the frame.
      if (state_ == FrameState::NotStarted) break;
      purpose_ = Purpose::Arrival;
      state_ = FrameState::Discovering;
      // The discovery closes the open frame; if it finds none, that frame
      // went without its removal having come.
      lost_ = lost_ || FrameOpen();
      kind_ = FrameKind::None;
      s.Add(S::ClearCalibrationValid);
      s.Add(S::Discover);
      break;

    case FrameEvent::Removal:
      if (state_ == FrameState::NotStarted) break;
      if (FrameOpen()) {
        s.Add(S::CloseFrame);
        s.Add(S::DisableButtons);
      }
      purpose_ = Purpose::Removal;
      state_ = FrameState::Discovering;
      kind_ = FrameKind::None;
      lost_ = false;
      s.Add(S::ClearCalibrationValid);
      // Another listed frame may be present.
      s.Add(S::Discover);
      break;

    case FrameEvent::Lost:
      // As a removal, without the discovery: the frame is looked for again
      // later, and the outputs stop now (empty bundles, a lift document).
      if (!FrameOpen() || state_ == FrameState::Discovering) break;
      s.Add(S::CloseFrame);
      s.Add(S::DisableButtons);
      s.Add(S::ClearCalibrationValid);
      s.Add(S::StopOutputIfStarted);
      kind_ = FrameKind::None;
      lost_ = true;
      SettleOpenState();
      break;

    case FrameEvent::ReadBack:
      awaitingReadBack_ = false;
      s.Add(S::StoreReadBack);
      s.Add(S::ClearAwaitingReadBack);
      s.Add(S::MouseModeAfterReadBack);
      s.Add(S::EnableButtons);
      if (state_ == FrameState::AwaitingReadBack) state_ = FrameState::Ready;
      break;

    case FrameEvent::ModeReport:
      s.Add(S::StoreSeriesMode);
      s.Add(S::EnableMouseButton);
      break;

    case FrameEvent::Reply:
      s.Add(S::EnableButtons);
      break;

    case FrameEvent::Exit:
      if (FrameOpen()) {
        s.Add(S::ExitCommands);
        s.Add(S::CloseFrame);
      }
      s.Add(S::ApplyMouseOn);
      s.Add(S::StopOutput);
      kind_ = FrameKind::None;
      lost_ = false;
      state_ = FrameState::Closed;
      break;
  }
  return s;
}

std::size_t FrameSession::EventsFor(const FrameChanges& c, FrameEvent (&events)[2]) const {
  if (state_ == FrameState::NotStarted || state_ == FrameState::Closed) return 0;
  if (c.removal && c.removalLast) {
    events[0] = FrameEvent::Removal;  // another listed frame may be present
    return 1;
  }
  if (c.removal && FrameOpen()) {
    // The open frame left and came back: its outputs stop and start again,
    // so a finger held at the unplug is lifted.
    events[0] = FrameEvent::Lost;
    events[1] = FrameEvent::Arrival;
    return 2;
  }
  // A listed frame's arrival, or any arrival after the open frame went: the
  // full re-discovery, once.
  if (c.listedArrival || c.removal || (c.otherArrival && !(FrameOpen() && c.openFramePresent))) {
    events[0] = FrameEvent::Arrival;
    return 1;
  }
  return 0;
}

FrameSteps FrameSession::Discovered(FrameKind kind) {
  FrameSteps s;
  kind_ = kind;
  if (kind != FrameKind::None) lost_ = false;
  switch (purpose_) {
    case Purpose::StartUp:
      s.Add(S::StartOutput);
      s.Add(S::StartReaders);
      s.Add(S::TouchOutputOn);
      s.Add(S::StartXmlListener);
      if (kind == FrameKind::Series01xx) {
        s.Add(S::InitSeriesDevice);
        s.Add(S::SeriesModeMouseOn);
      }
      break;

    case Purpose::Arrival:
      if (kind == FrameKind::None) {
        awaitingReadBack_ = false;
        s.Add(S::ClearAwaitingReadBack);
        s.Add(S::DisableButtons);
        // A frame closed here is looked for again, its outputs stopped.
        if (lost_) s.Add(S::StopOutputIfStarted);
        break;
      }
      s.Add(S::LayoutWindow);
      s.Add(S::StartOutputIfStopped);
      s.Add(S::StartReaders);
      switch (kind) {
        case FrameKind::Series01xx:
          s.Add(S::InitSeriesDevice);
          s.Add(S::EnableMouseButton);
          s.Add(S::SeriesModeMouseOn);
          break;
        case FrameKind::SplitChannel:
          awaitingReadBack_ = false;
          s.Add(S::ClearAwaitingReadBack);
          s.Add(S::EnableButtons);
          break;
        default:
          // The buttons stay disabled until the read-back arrives.
          awaitingReadBack_ = true;
          s.Add(S::RequestReadBack);
          break;
      }
      s.Add(S::TouchOutputOn);
      s.Add(S::ApplyMouseEnable);
      break;

    case Purpose::Removal:
      // A frame opened here gets no start-up commands, and the outputs stay
      // stopped until the next arrival.
      s.Add(S::StopOutputIfStarted);
      break;
  }
  SettleOpenState();
  return s;
}

void FrameSession::SettleOpenState() {
  if (!initialised_) {
    state_ = FrameState::Starting;
  } else if (kind_ == FrameKind::None) {
    state_ = FrameState::Absent;
  } else {
    state_ = awaitingReadBack_ ? FrameState::AwaitingReadBack : FrameState::Ready;
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
