#include "input/FrameSession.h"

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
      SettleOpenState();
      break;

    case FrameEvent::Arrival:
      // Discovery reads what is present now, so it also re-opens the frame.
      if (state_ == FrameState::NotStarted) break;
      purpose_ = Purpose::Arrival;
      state_ = FrameState::Discovering;
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
      s.Add(S::ClearCalibrationValid);
      // Another listed frame may be present.
      s.Add(S::Discover);
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
      state_ = FrameState::Closed;
      break;
  }
  return s;
}

bool FrameSession::EventFor(const FrameChanges& c, FrameEvent& event) const {
  if (state_ == FrameState::NotStarted || state_ == FrameState::Closed) return false;
  if (c.removal && c.removalLast) {
    event = FrameEvent::Removal;  // another listed frame may be present
  } else if (c.listedArrival || c.removal) {
    // A listed frame's arrival, or any arrival after the open frame went:
    // the full re-discovery, once.
    event = FrameEvent::Arrival;
  } else if (c.otherArrival && !(FrameOpen() && c.openFramePresent)) {
    event = FrameEvent::Arrival;
  } else {
    return false;
  }
  return true;
}

FrameSteps FrameSession::Discovered(FrameKind kind) {
  FrameSteps s;
  kind_ = kind;
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
