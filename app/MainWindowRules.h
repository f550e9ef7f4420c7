#pragma once
// The main window's decisions, free of any window: the layout per device
// class, the tray menu, the tray callback and the mouse button's toggle. The
// Windows dialog renders what these decide.
#include <cstdint>
#include <string>

#include "input/DeviceProfile.h"

// Control ids of the main window (dialog 102) and the tray menu.
enum MainWindowId : int {
  kIdCancel = 2,  // the hidden "Exit" button and the tray menu's "Exit"
  kIdAbout = 1000,
  kIdCalibration = 1001,
  kIdMouse = 1002,
  kIdAutostart = 1003,
  kIdMenuAbout = 1126,
  kIdMenuOpen = 1127,
};

// One instance per session: the mutex name lives as long as it runs.
constexpr const char* kInstanceMutexName = "MorvikVantrel";
constexpr const char* kSecondInstanceText = "The services has run already.";
// Broadcast to all top-level windows to end the running instance.
constexpr const char* kQuitMessageName = "UWM_SELFCLOSE_MSG-55E116BA-3214-45a0-9894-8ACDF8002181";

constexpr unsigned kTrayIconId = 128;
constexpr unsigned kTrayCallbackMessage = 0x465;  // WM_USER + 101
constexpr const char* kTrayTip = "Vantrel";
constexpr const char* kAboutText = "About";
constexpr const char* kAdvanceText = "Advance";
constexpr const char* kEnableMouseText = "Enable mouse";
constexpr const char* kDisableMouseText = "Disable mouse";

struct PixelRect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const PixelRect& o) const {
    return x == o.x && y == o.y && width == o.width && height == o.height;
  }
};

struct ButtonPlacement {
  bool shown = true;
  PixelRect rect;  // client pixels; kept as it is while hidden
};

struct MainWindowLayout {
  int width = 0, height = 0;  // the window, frame included
  ButtonPlacement calibration, mouse, about;
};

// Series01xx: no calibration button; split-channel single-touch: no mouse
// button; every other frame (and no frame at all): both.
MainWindowLayout LayoutForDevice(const DeviceProfile& profile);

// The tray menu, top to bottom; id 0 is the separator.
struct TrayMenuEntry {
  int id;
  const char* text;
};
constexpr TrayMenuEntry kTrayMenu[] = {{kIdMenuAbout, "About..."},
                                       {0, nullptr},
                                       {kIdMenuOpen, "Open main window"},
                                       {kIdCancel, "Exit"}};

// Keeps the tray icon on the screen. At log-on a program started from the
// Run key may find the shell's notification area not ready, and a shell
// that restarted (it broadcasts "TaskbarCreated") has lost every icon: each
// starts a round of adds, a failed add retried every kRetryMs until
// kRetryWindowMs have passed since the round began. Times in milliseconds
// of any monotonic clock.
constexpr const char* kTaskbarCreatedMessageName = "TaskbarCreated";
class TrayIconKeeper {
 public:
  static constexpr unsigned kRetryMs = 500;
  static constexpr unsigned kRetryWindowMs = 10000;
  enum class Next { kShown, kRetry, kGiveUp };

  // A round of adds begins: the start-up, or the shell came back.
  void Begin(std::uint64_t nowMs);
  // One add ended (`added`: the icon is there now); what to do next.
  Next AfterAdd(bool added, std::uint64_t nowMs);
  unsigned Attempts() const { return attempts_; }

 private:
  std::uint64_t since_ = 0;
  unsigned attempts_ = 0;
};

enum class TrayAction { kNotOurs, kShowWindow, kOpenMenu, kNone };
// wParam is the icon id, lParam the mouse message.
TrayAction TrayCallbackAction(std::uintptr_t iconId, std::uintptr_t mouseMessage);

// The mouse button names the action a click performs. A click on a button
// reading anything but "Enable mouse" switches emulation off.
inline const char* MouseButtonText(bool mouseEnabled) {
  return mouseEnabled ? kDisableMouseText : kEnableMouseText;
}
inline bool MouseEnableAfterClick(const std::string& buttonText) {
  return buttonText == kEnableMouseText;
}
