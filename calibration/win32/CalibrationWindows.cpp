#include "calibration/win32/CalibrationWindows.h"

#include "calibration/CalibrationIds.h"
#include "calibration/TargetGeometry.h"

namespace {

// The reader's copy is waiting in the queue.
constexpr UINT kReplyPosted = WM_APP + 0x31;
constexpr UINT_PTR kRingTimer = 1;
constexpr UINT kRingPeriodMs = 150;
constexpr UINT kAboutCommand = 0x10;

std::wstring Wide(const std::string& s) {
  if (s.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
  return w;
}

std::string Narrow(const std::wstring& w) {
  if (w.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
  return s;
}

HINSTANCE Module() {
  return GetModuleHandleW(nullptr);
}

// The icon centred in the client area of a minimized window.
void PaintIconic(HWND hwnd, HICON icon) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  SendMessageW(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT rc;
  GetClientRect(hwnd, &rc);
  const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
  if (icon) DrawIcon(dc, (rc.right - cx + 1) / 2, (rc.bottom - cy + 1) / 2, icon);
  EndPaint(hwnd, &ps);
}

// The window's DC with `pen` selected in copy mode; the old pen goes back
// and the DC is released on leaving.
class PenDc {
 public:
  PenDc(HWND hwnd, HPEN pen) : hwnd_(hwnd), dc_(GetDC(hwnd)) {
    if (!dc_) return;
    old_ = SelectObject(dc_, pen);
    SetROP2(dc_, R2_COPYPEN);
  }
  ~PenDc() {
    if (!dc_) return;
    SelectObject(dc_, old_);
    ReleaseDC(hwnd_, dc_);
  }
  PenDc(const PenDc&) = delete;
  PenDc& operator=(const PenDc&) = delete;
  HDC Handle() const { return dc_; }

 private:
  HWND hwnd_;
  HDC dc_;
  HGDIOBJ old_ = nullptr;
};

}  // namespace

// ---- the target window -----------------------------------------------------

CRefDlg::~CRefDlg() {
  if (HWND hwnd = Hwnd()) DestroyWindow(hwnd);
  if (pen_) DeleteObject(pen_);
}

bool CRefDlg::Create(HWND ownerWindow) {
  if (!pen_) pen_ = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
  HWND hwnd = CreateModeless(IDD_TARGET, ownerWindow);
  if (hwnd) ShowWindow(hwnd, SW_HIDE);
  return hwnd != nullptr;
}

void CRefDlg::PreTranslateMessage(const MSG& msg) {
  if (!Hwnd() || msg.message != WM_KEYDOWN || msg.wParam != VK_ESCAPE) return;
  if (msg.hwnd != Hwnd() && !IsChild(Hwnd(), msg.hwnd)) return;
  owner_.Model().TargetEscape();
}

INT_PTR CRefDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_SHOWWINDOW:
      // Started (or restarted) on showing and hiding alike; never killed.
      SetTimer(Hwnd(), kRingTimer, kRingPeriodMs, nullptr);
      return FALSE;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(Hwnd(), &ps);
      if (state_.targetIndex != 0) DrawTarget();
      EndPaint(Hwnd(), &ps);
      return TRUE;
    }
    case WM_TIMER:
      if (wParam == kRingTimer) RingStep();
      return FALSE;
    case WM_CLOSE:
      return TRUE;  // neither the system menu nor Alt+F4 closes it
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {
        owner_.Model().TargetCancelled();
        return TRUE;
      }
      if (LOWORD(wParam) == IDOK) {
        ShowWindow(Hwnd(), SW_HIDE);  // a modeless dialog's end
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

bool CRefDlg::DisplaySize(int& width, int& height) {
  DEVMODEA mode{};
  mode.dmSize = sizeof mode;
  if (!EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode)) return false;
  width = static_cast<int>(mode.dmPelsWidth);
  height = static_cast<int>(mode.dmPelsHeight);
  return true;
}

bool CRefDlg::CurrentTarget(int width, int height, TargetPoint& at) {
  if (TargetPosition(state_.targetIndex, width, height, at)) return true;
  state_.targetIndex = 0;
  return false;
}

void CRefDlg::DrawTarget() {
  int w, h;
  if (!DisplaySize(w, h)) {
    // Once per calibration: every paint would stack another box.
    if (TakeDisplayFailureReport(state_))
      owner_.ShowMessageBox(Hwnd(), kDisplaySettingsFailed, MB_ICONEXCLAMATION);
    return;
  }
  TargetPoint at;
  if (!CurrentTarget(w, h, at)) return;
  const int c = CrossSize(w);
  DrawCross(at.x, at.y, c, c);
}

void CRefDlg::DrawCross(int x, int y, int width, int height) {
  PenDc pen(Hwnd(), pen_);
  const HDC dc = pen.Handle();
  if (!dc) return;
  MoveToEx(dc, x - width / 2, y, nullptr);
  LineTo(dc, x + width / 2, y);
  MoveToEx(dc, x, y - height / 2, nullptr);
  LineTo(dc, x, y + height / 2);
}

void CRefDlg::RingStep() {
  int w, h;
  if (!DisplaySize(w, h)) return;
  TargetPoint at;
  if (!CurrentTarget(w, h, at)) return;
  PenDc pen(Hwnd(), pen_);
  const HDC dc = pen.Handle();
  if (!dc) return;
  state_.ringRadius = NextRingRadius(state_.ringRadius, w);
  // Erase and paint the cross now, then the ring over it.
  RedrawWindow(Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  const int r = state_.ringRadius;
  Arc(dc, at.x - r, at.y - r, at.x + r, at.y + r, at.x, at.y - r, at.x, at.y - r);
}

// ---- the calibration dialog ------------------------------------------------

CCalibrationAppDlg::CCalibrationAppDlg(CalibrationFrame& frame, std::string title)
    : DialogBase(Charset::kWide),
      title_(std::move(title)),
      target_(*this),
      model_(*this, frame, target_.State()) {
  icon_ = LoadIconW(Module(), MAKEINTRESOURCEW(IDI_PROGRAM));
}

CCalibrationAppDlg::~CCalibrationAppDlg() {
  replies_.Close();
  if (HWND hwnd = Hwnd()) DestroyWindow(hwnd);
}

INT_PTR CCalibrationAppDlg::DoModal(HWND owner) {
  ended_ = false;
  shown_ = false;
  result_ = IDCANCEL;
  if (!CreateModeless(IDD_CALIBRATION, owner)) return -1;
  const bool ownerEnabled = owner && IsWindowEnabled(owner);
  if (ownerEnabled) EnableWindow(owner, FALSE);
  ShowWindow(Hwnd(), SW_SHOW);
  // The modal loop: the target window's Escape filter, then dialog keys for
  // both windows.
  MSG msg;
  while (!ended_) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // for the outer loop
      break;
    }
    if (got < 0) break;
    target_.PreTranslateMessage(msg);
    if (target_.Hwnd() && IsDialogMessageW(target_.Hwnd(), &msg)) continue;
    if (Hwnd() && IsDialogMessageW(Hwnd(), &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  // The owner is enabled before the dialog goes, so it gets the activation.
  if (ownerEnabled) EnableWindow(owner, TRUE);
  if (HWND hwnd = Hwnd()) DestroyWindow(hwnd);
  return result_;
}

void CCalibrationAppDlg::OnInitDialog() {
  wchar_t item[128];
  if (LoadStringW(Module(), IDS_ABOUT_ITEM, item, 128) > 0) {
    if (HMENU menu = GetSystemMenu(Hwnd(), FALSE)) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(menu, MF_STRING, kAboutCommand, item);
    }
  }
  if (icon_) SendMessageW(Hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  const HWND hwnd = Hwnd();
  replies_.Open([hwnd] { PostMessageW(hwnd, kReplyPosted, 0, 0); });
}

INT_PTR CCalibrationAppDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog();
      return TRUE;
    case WM_SHOWWINDOW:
      if (wParam && !shown_) {
        shown_ = true;
        target_.Create(Hwnd());
        model_.SetUp();
      }
      return FALSE;
    case kReplyPosted:
      HandleQueuedReplies();
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == kAboutCommand) {
        ShowAbout();
        return TRUE;
      }
      return FALSE;
    case WM_PAINT:
      if (IsIconic(Hwnd())) {
        PaintIconic(Hwnd(), icon_);
        return TRUE;
      }
      return FALSE;
    case WM_QUERYDRAGICON:
      // A dialog procedure returns this answer itself; through
      // DWLP_MSGRESULT the caller would get TRUE instead of the icon.
      return Answer(message, reinterpret_cast<LRESULT>(icon_));
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_DESTROY:
      replies_.Close();
      return FALSE;
    default:
      (void)lParam;
      return FALSE;
  }
}

void CCalibrationAppDlg::OnCommand(int id, int notification) {
  switch (id) {
    case IDC_ABOUT:
      ShowAbout();
      break;
    case IDC_EXIT:
    case IDCANCEL:  // Escape and the close box
      model_.Cancel();
      break;
    case IDOK:  // not overridden: the dialog just ends
      ended_ = true;
      result_ = IDOK;
      break;
    case IDC_CALIBRATION:
      model_.StartCalibration();
      break;
    case IDC_RESET:
      model_.Reset();
      break;
    case IDC_RB_OK:
      model_.ApplyRbParameters();
      break;
    case IDC_RIGHT_BUTTON:
    case IDC_SECOND_SWITCH:
      if (notification == BN_CLICKED) model_.ApplyRbSwitches();
      break;
    case IDC_SELECTOR:
      if (notification == CBN_SELCHANGE) model_.RequestRbSettings();
      break;
    default:
      break;
  }
}

void CCalibrationAppDlg::HandleQueuedReplies() {
  // A message box of one reply runs a message loop: later replies wait for
  // the loop below instead of overtaking it.
  if (draining_) return;
  draining_ = true;
  CalibrationReplyQueue::Report report;
  while (Hwnd() && replies_.Take(report)) model_.HandleCalibrationReply(report.data());
  draining_ = false;
}

void CCalibrationAppDlg::ShowAbout() {
  if (showAbout_) showAbout_(Hwnd());
}

void CCalibrationAppDlg::ShowMessageBox(HWND owner, const std::string& text, UINT icon) {
  MessageBoxW(owner, Wide(text).c_str(), Wide(title_).c_str(), MB_OK | icon);
}

// ---- the view's operations -------------------------------------------------

void CCalibrationAppDlg::EnableControl(int id, bool enabled) {
  EnableWindow(GetDlgItem(Hwnd(), id), enabled ? TRUE : FALSE);
}

std::string CCalibrationAppDlg::ControlText(int id) {
  HWND control = GetDlgItem(Hwnd(), id);
  const int n = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(control, &text[0], n + 1)));
  return Narrow(text);
}

void CCalibrationAppDlg::SetControlText(int id, const std::string& text) {
  SetDlgItemTextW(Hwnd(), id, Wide(text).c_str());
}

bool CCalibrationAppDlg::IsChecked(int id) {
  return IsDlgButtonChecked(Hwnd(), id) == BST_CHECKED;
}

void CCalibrationAppDlg::SetChecked(int id, bool checked) {
  CheckDlgButton(Hwnd(), id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void CCalibrationAppDlg::ShowMessage(const std::string& text, MessageIcon icon) {
  ShowMessageBox(Hwnd(), text,
                 icon == MessageIcon::kInformation ? MB_ICONINFORMATION : MB_ICONEXCLAMATION);
}

void CCalibrationAppDlg::FocusAndSelectAll(int id) {
  HWND control = GetDlgItem(Hwnd(), id);
  SetFocus(control);
  SendMessageW(control, EM_SETSEL, 0, -1);
  SendMessageW(control, EM_SCROLLCARET, 0, 0);
}

void CCalibrationAppDlg::ShowTargetWindow() {
  ShowWindow(target_.Hwnd(), SW_SHOWNORMAL);
  ShowWindow(target_.Hwnd(), SW_SHOWMAXIMIZED);
}

void CCalibrationAppDlg::HideTargetWindow() {
  ShowWindow(target_.Hwnd(), SW_HIDE);
}

void CCalibrationAppDlg::EndDialog() {
  ended_ = true;
  result_ = IDCANCEL;
}
