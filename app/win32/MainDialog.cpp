#include "app/win32/MainDialog.h"

#include <shellapi.h>

#include <cstdio>
#include <utility>

#include "app/Autostart.h"
#include "app/CommandLine.h"
#include "app/MainWindowRules.h"
#include "app/Settings.h"
#include "app/win32/resource.h"
#include "calibration/CalibrationButton.h"

namespace {

// Posted to the window's own thread by other threads.
constexpr UINT kEnableButtonMessage = WM_APP + 1;  // wParam control id, lParam on
constexpr UINT kLayoutMessage = WM_APP + 2;
constexpr UINT_PTR kRunTimer = 1;
constexpr UINT_PTR kTrayRetryTimer = 2;
constexpr UINT kAboutSysCommand = 0x10;

HINSTANCE Instance() {
  return GetModuleHandleA(nullptr);
}

std::string ControlText(HWND dialog, int id) {
  char text[64] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

}  // namespace

// CAboutDlg: dialog 100, modal over the main window.
class CAboutDlg final : public platform::DialogBase {
 public:
  CAboutDlg() : DialogBase(Charset::kAnsi) {}
  void DoModal(HWND owner) { RunModal(IDD_ABOUTBOX, owner); }

 private:
  INT_PTR HandleMessage(UINT msg, WPARAM wp, LPARAM) override {
    if (msg == WM_INITDIALOG) return TRUE;
    if (msg == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
      EndDialog(Hwnd(), LOWORD(wp));
      return TRUE;
    }
    return FALSE;
  }
};

CMorvikVantrelDlg::CMorvikVantrelDlg(platform::HidBackend& hid, DriverApiPort& driver,
                                     ServiceApp::Options serviceOptions, MainDialogOptions options)
    : DialogBase(Charset::kAnsi),
      app_(hid, driver, *this, std::move(serviceOptions)),
      settingsPath_(SettingsFilePath()),
      options_(std::move(options)),
      quitMessage_(RegisterWindowMessageA(kQuitMessageName)),
      taskbarCreated_(RegisterWindowMessageA(kTaskbarCreatedMessageName)) {
  icon_ =
      static_cast<HICON>(LoadImageA(Instance(), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                    GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  smallIcon_ = static_cast<HICON>(LoadImageA(Instance(), MAKEINTRESOURCEA(IDR_MAINFRAME),
                                             IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
}

CMorvikVantrelDlg::~CMorvikVantrelDlg() {
  if (icon_) DestroyIcon(icon_);
  if (smallIcon_) DestroyIcon(smallIcon_);
}

int CMorvikVantrelDlg::DoModal() {
  HWND hwnd = CreateModeless(IDD_VANTREL_DIALOG, nullptr);
  if (!hwnd) return -1;
  // The first show runs the start-up; the window stays hidden.
  ShowWindow(hwnd, SW_SHOWNORMAL);
  MSG msg;
  while (!ending_) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got <= 0) break;  // the quit message's PostQuitMessage
    if (PreTranslateMessage(msg) || IsDialogMessageA(hwnd, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  DestroyWindow(hwnd);  // WM_DESTROY: the shut-down
  return endReason_;
}

// ---- what the pipeline asks (any thread) -----------------------------------

void CMorvikVantrelDlg::EnableCalibrationButton(bool on) {
  PostToWindow(kEnableButtonMessage, IDC_CALIBRATION, on);
}

void CMorvikVantrelDlg::EnableMouseButton(bool on) {
  PostToWindow(kEnableButtonMessage, IDC_MOUSE, on);
}

void CMorvikVantrelDlg::LayoutForDevice() {
  PostToWindow(kLayoutMessage, 0, 0);
}

void CMorvikVantrelDlg::PostToWindow(UINT msg, WPARAM wp, LPARAM lp) {
  // Without a window (not yet created, or destroyed) there is nothing to
  // update; a null handle would post to the calling thread instead.
  if (HWND hwnd = Hwnd()) PostMessageA(hwnd, msg, wp, lp);
}

// ---- messages --------------------------------------------------------------

INT_PTR CMorvikVantrelDlg::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  HWND hwnd = Hwnd();
  if (msg == quitMessage_ && quitMessage_ != 0) {
    PostQuitMessage(0);
    return Answer(msg, 0);
  }
  if (msg == taskbarCreated_ && taskbarCreated_ != 0) {
    // The shell restarted without our icon; not once the shut-down removed it.
    if (app_.State().initialised && !shutDownDone_) BeginTrayIcon();
    return Answer(msg, 0);
  }
  switch (msg) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_SHOWWINDOW:
      if (!app_.State().initialised) OnFirstShow();
      return FALSE;
    case WM_WINDOWPOSCHANGING:
      if (!visible_) reinterpret_cast<WINDOWPOS*>(lp)->flags &= ~SWP_SHOWWINDOW;
      return FALSE;
    case WM_SYSCOMMAND:
      return OnSysCommand(wp) ? Answer(msg, 0) : FALSE;
    case WM_PAINT:
      if (IsIconic(hwnd)) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT r;
        GetClientRect(hwnd, &r);
        DrawIcon(dc, (r.right - GetSystemMetrics(SM_CXICON) + 1) / 2,
                 (r.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2, icon_);
        EndPaint(hwnd, &ps);
        return TRUE;
      }
      return FALSE;
    case WM_QUERYDRAGICON:
      return Answer(msg, reinterpret_cast<LRESULT>(icon_));
    case WM_DEVICECHANGE:
      // Arrivals and removals reach the pipeline through the HID backend's
      // own notification window and its change worker, where the frame's
      // command pauses cannot freeze this window.
      return Answer(msg, TRUE);
    case WM_COMMAND:
      OnCommand(LOWORD(wp), HIWORD(wp));
      return TRUE;
    case kEnableButtonMessage:
      EnableWindow(GetDlgItem(hwnd, static_cast<int>(wp)), lp != 0);
      return TRUE;
    case kLayoutMessage:
      ApplyLayout();
      return TRUE;
    case kTrayCallbackMessage:
      return Answer(msg, OnTrayCallback(wp, lp));
    case WM_TIMER:
      if (wp == kRunTimer) End(IDCANCEL);
      if (wp == kTrayRetryTimer) TryTrayIcon();
      return TRUE;
    case WM_POWERBROADCAST:
      // Waking from sleep, the frame lost its volatile state (touch output,
      // mouse mode, mode bytes): its arrival steps run again, on the
      // pipeline's change worker so this window never waits for the frame.
      if (wp == PBT_APMRESUMEAUTOMATIC && app_.State().initialised && !shutDownDone_)
        app_.Pipeline().OnResume();
      return Answer(msg, TRUE);
    case WM_QUERYENDSESSION:
      return Answer(msg, TRUE);
    case WM_ENDSESSION:
      // Log-off or shut-down ends the process without destroying windows:
      // the frame and the outputs get their shut-down here.
      if (wp) {
        RunShutDown();
        End(IDCANCEL);
      }
      return Answer(msg, 0);
    case WM_DESTROY:
      RunShutDown();
      ForgetWindow();
      return FALSE;
    default:
      return FALSE;
  }
}

BOOL CMorvikVantrelDlg::OnInitDialog() {
  char about[128] = {};
  if (LoadStringA(Instance(), IDS_ABOUTBOX, about, sizeof about) > 0 && about[0]) {
    if (HMENU menu = GetSystemMenu(Hwnd(), FALSE)) {
      AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
      AppendMenuA(menu, MF_STRING, kAboutSysCommand, about);
    }
  }
  SendMessageA(Hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(Hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
  WriteDoubleClickSettings();
  return TRUE;
}

void CMorvikVantrelDlg::OnFirstShow() {
  HWND hwnd = Hwnd();
  SetDlgItemTextA(hwnd, IDC_MOUSE, kDisableMouseText);
  app_.State().mouseEnable = true;
  EnableWindow(GetDlgItem(hwnd, IDC_CALIBRATION), FALSE);
  EnableWindow(GetDlgItem(hwnd, IDC_MOUSE), FALSE);
  // Driver API, pipeline, the stored mouse setting, layout, read-back
  // request; the initialised flag last.
  app_.Start(hwnd);
  touchDeviceCount_ = app_.DriverApi().DeviceCount();
  SetDlgItemTextA(hwnd, IDC_MOUSE, MouseButtonText(app_.State().mouseEnable));
  BeginTrayIcon();
  CheckDlgButton(hwnd, IDC_AUTOSTART,
                 IsAutostartCurrent(kAutostartValueName) ? BST_CHECKED : BST_UNCHECKED);
  if (options_.runMs >= 0) {
    SetTimer(hwnd, kRunTimer,
             static_cast<UINT>(options_.runMs > 0x7FFFFFFF ? 0x7FFFFFFF : options_.runMs), nullptr);
  }
  if (!options_.readyFile.empty()) WriteReadyFile(options_.readyFile);
}

void CMorvikVantrelDlg::OnCommand(int id, int code) {
  switch (id) {
    case IDC_ABOUT:
    case kIdMenuAbout:
      // Nothing while Ctrl turned the button into "Advance".
      if (ControlText(Hwnd(), IDC_ABOUT) == kAboutText) ShowAbout();
      break;
    case IDC_CALIBRATION:
      OnCalibration();
      break;
    case IDC_MOUSE:
      OnMouseToggle();
      break;
    case kIdMenuOpen:
      ShowMainWindow();
      break;
    case IDC_AUTOSTART:
      if (code == BN_CLICKED) {
        if (IsDlgButtonChecked(Hwnd(), IDC_AUTOSTART) == BST_CHECKED) {
          WriteAutostart(kAutostartValueName);
        } else {
          DeleteAutostart(kAutostartValueName);
        }
      }
      break;
    case IDCANCEL:  // Escape, the tray menu's "Exit"
      End(IDCANCEL);
      break;
    default:
      break;
  }
}

bool CMorvikVantrelDlg::OnSysCommand(WPARAM command) {
  if ((command & 0xFFF0) == kAboutSysCommand) {
    ShowAbout();
    return true;
  }
  if ((command & 0xFFF0) == SC_MINIMIZE || (command & 0xFFF0) == SC_CLOSE) {
    visible_ = false;
    ShowWindow(Hwnd(), SW_HIDE);
    return true;
  }
  return false;
}

LRESULT CMorvikVantrelDlg::OnTrayCallback(WPARAM iconId, LPARAM mouseMessage) {
  switch (TrayCallbackAction(iconId, static_cast<std::uintptr_t>(mouseMessage))) {
    case TrayAction::kNotOurs:
      return 1;
    case TrayAction::kShowWindow:
      ShowMainWindow();
      break;
    case TrayAction::kOpenMenu: {
      POINT at;
      GetCursorPos(&at);
      HMENU menu = CreatePopupMenu();
      for (const TrayMenuEntry& e : kTrayMenu) {
        if (e.id == 0) {
          AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        } else {
          AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(e.id), e.text);
        }
      }
      // The menu closes when the user clicks elsewhere only if its owner is
      // in the foreground.
      SetForegroundWindow(Hwnd());
      TrackPopupMenu(menu, 0, at.x, at.y, 0, Hwnd(), nullptr);
      DestroyMenu(menu);
      break;
    }
    case TrayAction::kNone:
      break;
  }
  return 0;
}

bool CMorvikVantrelDlg::PreTranslateMessage(const MSG& msg) {
  HWND hwnd = Hwnd();
  if (msg.wParam == VK_CONTROL && (msg.hwnd == hwnd || IsChild(hwnd, msg.hwnd))) {
    if (msg.message == WM_KEYDOWN) SetDlgItemTextA(hwnd, IDC_ABOUT, kAdvanceText);
    if (msg.message == WM_KEYUP) SetDlgItemTextA(hwnd, IDC_ABOUT, kAboutText);
  }
  return false;  // the dialog handles the key as well
}

void CMorvikVantrelDlg::ShowMainWindow() {
  visible_ = true;
  Sleep(100);
  // Minimise then restore: brings the window to the front.
  ShowWindow(Hwnd(), SW_MINIMIZE);
  ShowWindow(Hwnd(), SW_RESTORE);
}

void CMorvikVantrelDlg::ShowAbout() {
  ShowAboutBox(Hwnd());
}

void CMorvikVantrelDlg::ShowAboutBox(HWND owner) {
  CAboutDlg().DoModal(owner);
}

void CMorvikVantrelDlg::OnCalibration() {
  RunCalibrationButton(app_.State(), app_.Pipeline(), [this] {
    if (calibrationRunner_) calibrationRunner_(Hwnd(), *this);
  });
}

void CMorvikVantrelDlg::OnMouseToggle() {
  const bool on = MouseEnableAfterClick(ControlText(Hwnd(), IDC_MOUSE));
  SetDlgItemTextA(Hwnd(), IDC_MOUSE, MouseButtonText(on));
  app_.State().mouseEnable = on;
  WriteMouseEnable(settingsPath_, on);
  app_.Pipeline().ApplyMouseEnable(on);
}

void CMorvikVantrelDlg::ApplyLayout() {
  HWND hwnd = Hwnd();
  const MainWindowLayout l = ::LayoutForDevice(app_.Pipeline().Profile());
  const std::pair<int, const ButtonPlacement*> buttons[] = {
      {IDC_CALIBRATION, &l.calibration}, {IDC_MOUSE, &l.mouse}, {IDC_ABOUT, &l.about}};
  for (const auto& b : buttons) {
    HWND control = GetDlgItem(hwnd, b.first);
    const PixelRect& r = b.second->rect;
    MoveWindow(control, r.x, r.y, r.width, r.height, TRUE);
    ShowWindow(control, b.second->shown ? SW_SHOW : SW_HIDE);
  }
  // The window last: at its new size it never shows the old buttons.
  SetWindowPos(hwnd, nullptr, 0, 0, l.width, l.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CMorvikVantrelDlg::BeginTrayIcon() {
  trayKeeper_.Begin(GetTickCount64());
  TryTrayIcon();
}

void CMorvikVantrelDlg::TryTrayIcon() {
  if (trayKeeper_.AfterAdd(TrayIcon(true), GetTickCount64()) == TrayIconKeeper::Next::kRetry) {
    SetTimer(Hwnd(), kTrayRetryTimer, TrayIconKeeper::kRetryMs, nullptr);
  } else {
    KillTimer(Hwnd(), kTrayRetryTimer);
  }
}

bool CMorvikVantrelDlg::TrayIcon(bool add) {
  NOTIFYICONDATAA nid{};
  nid.cbSize = sizeof nid;
  nid.hWnd = Hwnd();
  nid.uID = kTrayIconId;
  if (add) {
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = kTrayCallbackMessage;
    nid.hIcon = smallIcon_ ? smallIcon_ : icon_;
    lstrcpynA(nid.szTip, kTrayTip, sizeof nid.szTip);
  }
  if (!add) return Shell_NotifyIconA(NIM_DELETE, &nid) != FALSE;
  // A shell that kept the icon refuses a second add but takes a modify.
  return Shell_NotifyIconA(NIM_ADD, &nid) || Shell_NotifyIconA(NIM_MODIFY, &nid);
}

void CMorvikVantrelDlg::RunShutDown() {
  if (shutDownDone_) return;
  shutDownDone_ = true;
  KillTimer(Hwnd(), kRunTimer);
  KillTimer(Hwnd(), kTrayRetryTimer);
  // Right button and wheel on, exit commands, close, mouse emulation on,
  // outputs stopped, tray icon removed, ExitTouch.
  app_.ShutDown([this] { TrayIcon(false); });
  TrayIcon(false);  // also when the start-up never ran
}

void CMorvikVantrelDlg::End(int reason) {
  endReason_ = reason;
  ending_ = true;
  PostMessageA(Hwnd(), WM_NULL, 0, 0);  // wakes the loop
}
