#include "app/MainWindowRules.h"

#include "platform/Trace.h"

MainWindowLayout LayoutForDevice(const DeviceProfile& profile) {
  const std::uint16_t v = profile.VersionNumber;
  MainWindowLayout l;
  l.height = 100;
  if (profile.Series01xx) {
    l.width = 198;
    l.calibration = {false, {10, 10, 88, 40}};
    l.mouse = {true, {10, 10, 88, 40}};
    l.about = {true, {106, 10, 78, 40}};
  } else if (((v >= 0x4002 && v <= 0x4FFF) || (v >= 0x3002 && v <= 0x3FFF)) && !IsMultiTouch(v)) {
    l.width = 198;
    l.calibration = {true, {10, 10, 88, 40}};
    l.mouse = {false, {10, 10, 88, 40}};
    l.about = {true, {106, 10, 78, 40}};
  } else {
    l.width = 285;
    l.calibration = {true, {10, 10, 78, 40}};
    l.mouse = {true, {98, 10, 88, 40}};
    l.about = {true, {196, 10, 76, 40}};
  }
  return l;
}

TrayAction TrayCallbackAction(std::uintptr_t iconId, std::uintptr_t mouseMessage) {
  if (iconId != kTrayIconId) return TrayAction::kNotOurs;
  if (mouseMessage == 0x203) return TrayAction::kShowWindow;  // WM_LBUTTONDBLCLK
  if (mouseMessage == 0x205) return TrayAction::kOpenMenu;    // WM_RBUTTONUP
  return TrayAction::kNone;
}

void TrayIconKeeper::Begin(std::uint64_t nowMs) {
  since_ = nowMs;
  attempts_ = 0;
}

TrayIconKeeper::Next TrayIconKeeper::AfterAdd(bool added, std::uint64_t nowMs) {
  ++attempts_;
  const std::uint64_t spent = nowMs - since_;
  if (added) {
    if (attempts_ > 1)
      TRACE_INFO("tray icon: added at attempt %u after %llu ms", attempts_,
                 static_cast<unsigned long long>(spent));
    return Next::kShown;
  }
  if (spent >= kRetryWindowMs) {
    TRACE_WARN("tray icon: the shell refused %u adds in %llu ms; giving up until it restarts",
               attempts_, static_cast<unsigned long long>(spent));
    return Next::kGiveUp;
  }
  TRACE_DEBUG("tray icon: add %u refused, again in %u ms", attempts_, kRetryMs);
  return Next::kRetry;
}
