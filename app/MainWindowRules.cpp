#include "app/MainWindowRules.h"

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
