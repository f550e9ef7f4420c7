// Vantrel.exe driven from another process as a user and the shell would:
// windows found by class and title, texts read back, clicks, keys and tray
// callbacks posted, the frame simulator's record and a TUIO socket read.
// Each test runs its own copy of the program in a fresh folder (its own
// settings file) against its own simulated frame. Screenshots go to
// VANTREL_SCREENSHOT_DIR.
// winsock2 before windows, windows before shellapi.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>
// clang-format on
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/Autostart.h"
#include "app/MainWindowRules.h"
#include "calibration/CalibrationIds.h"
#include "tests/support/PngWriter.h"
#include "tests/support/SimControl.h"
#include "tools/monitor/TuioCursorTracker.h"

namespace {

// Deadlines of the waits for the program: generous, as Wine on a loaded
// machine may be slow; a wait ends as soon as what it waits for is there.
constexpr int kStartMs = 60000;
constexpr int kEndMs = 30000;
constexpr int kWaitMs = 30000;

// Vantrel.exe, named relative to the build tree (no absolute path in the
// compile lines, so a clone elsewhere reuses the compiler cache) and looked
// for in the folders above this program's own.
std::string VantrelExe() {
  char self[MAX_PATH];
  std::string dir(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
  for (std::size_t slash; (slash = dir.find_last_of("\\/")) != std::string::npos;) {
    dir.resize(slash);
    const std::string candidate = dir + "\\" + VANTREL_EXE;
    if (GetFileAttributesA(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) return candidate;
  }
  return VANTREL_EXE;
}

template <class F>
bool Until(F ready, int timeoutMs) {
  const DWORD start = GetTickCount();
  while (!ready()) {
    if (GetTickCount() - start > static_cast<DWORD>(timeoutMs)) return false;
    Sleep(20);
  }
  return true;
}

std::string Text(HWND hwnd) {
  char buf[256] = {};
  SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_BLOCK, kWaitMs,
                      nullptr);
  return buf;
}

// The first non-empty static text of a dialog (a message box's message).
std::string StaticText(HWND dialog) {
  std::string found;
  for (HWND c = GetWindow(dialog, GW_CHILD); c && found.empty(); c = GetWindow(c, GW_HWNDNEXT)) {
    char cls[32] = {};
    GetClassNameA(c, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") == 0) found = Text(c);
  }
  return found;
}

struct Found {
  DWORD pid;
  const char* cls;
  const char* title;  // null: any
  HWND hwnd;
  const char* message = nullptr;  // a visible message box saying this
};

BOOL CALLBACK MatchWindow(HWND h, LPARAM lp) {
  auto* f = reinterpret_cast<Found*>(lp);
  DWORD owner = 0;
  GetWindowThreadProcessId(h, &owner);
  char cls[64] = {}, title[128] = {};
  GetClassNameA(h, cls, sizeof cls);
  GetWindowTextA(h, title, sizeof title);
  if (owner == f->pid && std::string(cls) == f->cls &&
      (!f->title || f->title == std::string(title)) &&
      (!f->message || (IsWindowVisible(h) && StaticText(h) == f->message))) {
    f->hwnd = h;
    return FALSE;
  }
  return TRUE;
}

HWND FindWindowOf(DWORD pid, const char* cls, const char* title, const char* message = nullptr) {
  Found f{pid, cls, title, nullptr, message};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&f));
  return f.hwnd;
}

HWND WaitWindow(DWORD pid, const char* cls, const char* title, int timeoutMs = kWaitMs) {
  HWND h = nullptr;
  Until([&] { return (h = FindWindowOf(pid, cls, title)) != nullptr; }, timeoutMs);
  return h;
}

HWND WaitBox(DWORD pid, const char* message) {
  HWND h = nullptr;
  Until([&] { return (h = FindWindowOf(pid, "#32770", nullptr, message)) != nullptr; }, kWaitMs);
  return h;
}

void CloseBox(HWND box) {
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(Until([&] { return !IsWindow(box); }, kWaitMs));
}

// NIM_MODIFY succeeds only for an icon that exists.
bool TrayIconExists(HWND owner) {
  NOTIFYICONDATAA nid{};
  nid.cbSize = sizeof nid;
  nid.hWnd = owner;
  nid.uID = kTrayIconId;
  nid.uFlags = NIF_TIP;
  lstrcpynA(nid.szTip, kTrayTip, sizeof nid.szTip);
  return Shell_NotifyIconA(NIM_MODIFY, &nid) != FALSE;
}

// A control's rectangle in its parent's client pixels.
PixelRect ClientRect(HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

// Template 300 in pixels: each control where its dialog units put it with
// the base units of the template's font, 9 point "宋体".
void ExpectCalibrationTemplate(HWND dialog) {
  HDC dc = GetDC(nullptr);
  HFONT font = CreateFontW(-MulDiv(9, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, 0, 0, 0, 0,
                           DEFAULT_CHARSET, 0, 0, PROOF_QUALITY, FF_DONTCARE, L"\x5B8B\x4F53");
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW tm;
  GetTextMetricsW(dc, &tm);
  SIZE letters;
  GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &letters);
  SelectObject(dc, old);
  DeleteObject(font);
  ReleaseDC(nullptr, dc);
  const int bx = (letters.cx / 26 + 1) / 2, by = tm.tmHeight;
  RECT client;
  GetClientRect(dialog, &client);
  EXPECT_EQ(client.right, MulDiv(211, bx, 4));
  EXPECT_EQ(client.bottom, MulDiv(37, by, 8));
  const int units[][5] = {{IDC_CALIBRATION, 11, 10, 53, 16}, {IDC_RESET, 68, 10, 39, 16},
                          {IDC_ABOUT, 112, 10, 39, 16},      {IDC_EXIT, 160, 10, 39, 16},
                          {IDC_RIGHT_BUTTON, 7, 7, 61, 11},  {IDC_RB_TIME, 117, 7, 25, 12},
                          {IDC_RB_OK, 51, 15, 37, 16},       {IDC_SETTINGS_GROUP, 15, 8, 25, 21}};
  for (const auto& u : units) {
    EXPECT_EQ(ClientRect(GetDlgItem(dialog, u[0])),
              (PixelRect{MulDiv(u[1], bx, 4), MulDiv(u[2], by, 8), MulDiv(u[3], bx, 4),
                         MulDiv(u[4], by, 8)}))
        << "control " << u[0];
  }
}

bool Shown(HWND control) {
  return (GetWindowLongPtrA(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

// The window's pixels as the screen shows them, top row first.
std::vector<std::uint8_t> Capture(HWND hwnd, int& width, int& height) {
  RECT r;
  GetWindowRect(hwnd, &r);
  width = r.right - r.left;
  height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  const auto* px = static_cast<const std::uint8_t*>(bits);
  for (int i = 0; i < width * height; ++i) {
    rgb[i * 3] = px[i * 4 + 2], rgb[i * 3 + 1] = px[i * 4 + 1], rgb[i * 3 + 2] = px[i * 4];
  }
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return rgb;
}

// The window's pixels once it is drawn: the same in two captures 100 ms
// apart and not of one colour (another process's drawing reaches the
// screen some time after it painted). Empty when that does not happen.
std::vector<std::uint8_t> DrawnPixels(HWND hwnd, int& width, int& height) {
  std::vector<std::uint8_t> last, now;
  Until(
      [&] {
        last = Capture(hwnd, width, height);
        Sleep(100);
        now = Capture(hwnd, width, height);
        bool plain = true;
        for (std::size_t i = 3; i < now.size() && plain; ++i) plain = now[i] == now[i % 3];
        return now == last && !plain;
      },
      kWaitMs);
  if (now != last) now.clear();
  return now;
}

void Screenshot(HWND hwnd, const std::string& name) {
  const char* dir = std::getenv("VANTREL_SCREENSHOT_DIR");
  if (!dir || !*dir) return;
  CreateDirectoryA(dir, nullptr);
  // Painted in full (the owner's thread paints before this returns).
  RedrawWindow(hwnd, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sleep(200);
  int w = 0, h = 0;
  const std::vector<std::uint8_t> rgb = Capture(hwnd, w, h);
  EXPECT_TRUE(testsupport::WritePng(std::string(dir) + "\\" + name + ".png", w, h, rgb)) << name;
}

// A popup menu of `texts` (null: a separator) as this process draws it,
// for a menu of the program whose texts cannot be read across processes.
std::vector<std::uint8_t> OwnMenuPixels(const std::vector<const char*>& texts, int& w, int& h) {
  std::thread owner([&] {
    HWND window = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, 0);
    HMENU menu = CreatePopupMenu();
    for (const char* t : texts) AppendMenuA(menu, t ? MF_STRING : MF_SEPARATOR, 1, t);
    TrackPopupMenu(menu, 0, 100, 100, 0, window, nullptr);
    DestroyMenu(menu);
    DestroyWindow(window);
  });
  HWND popup = WaitWindow(GetCurrentProcessId(), "#32768", nullptr);
  std::vector<std::uint8_t> rgb;
  if (popup) rgb = DrawnPixels(popup, w, h);
  PostMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0);
  owner.join();
  return rgb;
}

// Which system icon a message box shows: its icon control as the screen
// shows it against each candidate drawn here on the same background.
LPCSTR BoxIcon(HWND box) {
  HWND control = nullptr;
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    if ((GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) control = c;
  if (!control) return nullptr;
  int w = 0, h = 0;
  const std::vector<std::uint8_t> shown = DrawnPixels(control, w, h);
  if (shown.empty()) return nullptr;
  HDC mem = CreateCompatibleDC(nullptr);
  HBITMAP bmp = CreateBitmap(w, h, 1, 32, nullptr);
  HGDIOBJ old = SelectObject(mem, bmp);
  LPCSTR best = nullptr;
  long same, bestSame = -1;
  for (LPCSTR id : {IDI_INFORMATION, IDI_EXCLAMATION, IDI_ERROR}) {
    HBRUSH back = CreateSolidBrush(RGB(shown[0], shown[1], shown[2]));
    const RECT all{0, 0, w, h};
    FillRect(mem, &all, back);
    DeleteObject(back);
    DrawIconEx(mem, 0, 0, LoadIconA(nullptr, id), 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE);
    same = 0;
    for (int i = 0; i < w * h; ++i)
      same += RGB(shown[i * 3], shown[i * 3 + 1], shown[i * 3 + 2]) == GetPixel(mem, i % w, i / w);
    if (same > bestSame) best = id, bestSame = same;
  }
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  return best;
}

std::string ReadRegistry(const char* key, const char* name) {
  char buf[512] = {};
  DWORD size = sizeof buf - 1;
  HKEY k;
  if (RegOpenKeyA(HKEY_CURRENT_USER, key, &k) != ERROR_SUCCESS) return "<no key>";
  const LONG r = RegQueryValueExA(k, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size);
  RegCloseKey(k);
  return r == ERROR_SUCCESS ? std::string(buf) : "<none>";
}

void WriteRegistry(const char* key, const char* name, const std::string& value) {
  HKEY k;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, key, &k), ERROR_SUCCESS);
  RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(k);
}

// TUIO bundles arriving on 127.0.0.1:3333.
class TuioSocket {
 public:
  TuioSocket() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    s_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(3333);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bound_ = bind(s_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    DWORD ms = 100;
    setsockopt(s_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
  }
  ~TuioSocket() { closesocket(s_); }
  bool bound() const { return bound_; }
  // Everything that arrives until nothing came for 100 ms.
  std::vector<monitor::TuioBundle> Drain() {
    std::vector<monitor::TuioBundle> out;
    char buf[4096];
    for (int n; (n = recv(s_, buf, sizeof buf, 0)) > 0;) {
      if (auto b = monitor::DecodeTuioBundle(buf, static_cast<std::size_t>(n))) out.push_back(*b);
    }
    return out;
  }

 private:
  SOCKET s_;
  bool bound_ = false;
};

// One copy of Vantrel.exe in a folder of its own.
class Program {
 public:
  Program() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    dir_ = std::string(temp) + "vantrel-gui-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(counter_++);
    CreateDirectoryA(dir_.c_str(), nullptr);
    exe_ = dir_ + "\\Vantrel.exe";
    CopyFileA(VantrelExe().c_str(), exe_.c_str(), FALSE);
  }
  ~Program() {
    for (PROCESS_INFORMATION& p : procs_) {
      if (WaitForSingleObject(p.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(p.hProcess, 1);
      CloseHandle(p.hProcess);
      CloseHandle(p.hThread);
    }
    for (const char* f : {"\\Vantrel.exe", "\\Vantrel.ini", "\\ready"})
      DeleteFileA((dir_ + f).c_str());
    RemoveDirectoryA(dir_.c_str());
  }
  const std::string& exe() const { return exe_; }
  std::string settings() const { return dir_ + "\\Vantrel.ini"; }

  // Starts a process of this copy as the shell does: no standard handles.
  // Its index.
  std::size_t Start(const std::string& args) {
    std::string line = "\"" + exe_ + "\" " + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, dir_.c_str(), &si,
                        &pi)) {
      ADD_FAILURE() << "cannot start " << line;
      return SIZE_MAX;
    }
    procs_.push_back(pi);
    return procs_.size() - 1;
  }
  // Starts the instance and waits for its start-up and its main window.
  // `starting` sees the main window, once it exists, until the start-up ends.
  HWND Run(const std::function<void(HWND)>& starting = {}) {
    DeleteFileA((dir_ + "\\ready").c_str());
    main_ = Start("--ready-file ready");
    if (main_ == SIZE_MAX) return nullptr;
    if (!Until(
            [&] {
              if (HWND w = starting ? FindWindowOf(pid(main_), "#32770", "Vantrel") : nullptr)
                starting(w);
              return !Running() ||
                     GetFileAttributesA((dir_ + "\\ready").c_str()) != INVALID_FILE_ATTRIBUTES;
            },
            kStartMs) ||
        !Running()) {
      DWORD code = 0;
      GetExitCodeProcess(procs_[main_].hProcess, &code);
      ADD_FAILURE() << "no start-up: " << exe_ << " "
                    << (Running() ? "wrote no ready file in " + std::to_string(kStartMs) + " ms"
                                  : "ended with status " + std::to_string(code));
      return nullptr;
    }
    HWND main = WaitWindow(pid(main_), "#32770", "Vantrel");
    if (!main) ADD_FAILURE() << "started, but no main window";
    return main;
  }
  DWORD pid(std::size_t i) const { return procs_[i].dwProcessId; }
  DWORD pid() const { return pid(main_); }
  bool Running(std::size_t i) const {
    return WaitForSingleObject(procs_[i].hProcess, 0) == WAIT_TIMEOUT;
  }
  bool Running() const { return Running(main_); }
  bool Ended(std::size_t i, int timeoutMs) const {
    return WaitForSingleObject(procs_[i].hProcess, timeoutMs) == WAIT_OBJECT_0;
  }
  bool Ended(int timeoutMs) const { return Ended(main_, timeoutMs); }
  // `Vantrel.exe --quit`: its exit status.
  DWORD Quit() { return ExitCode(Start("--quit")); }
  // Process `i`'s exit status once it ended; 999 when it does not end.
  DWORD ExitCode(std::size_t i) {
    if (!Ended(i, kEndMs)) return 999;
    DWORD code = 0;
    GetExitCodeProcess(procs_[i].hProcess, &code);
    return code;
  }

 private:
  static int counter_;
  std::string dir_, exe_;
  std::vector<PROCESS_INFORMATION> procs_;
  std::size_t main_ = 0;
};
int Program::counter_ = 0;

class TrayProgram : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sim_.connected()) << "FRAMESIM_ADDR names no simulator"; }
  void TearDown() override {
    if (!frame_.empty()) sim_.last("unplug " + frame_);
  }
  // Adds a plugged frame of `model` with a name of this test.
  void Plug(const std::string& model, const std::string& settings = "") {
    frame_ = "g" + std::to_string(GetCurrentProcessId()) + "_" + model + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_EQ(sim_.last("add " + model + " " + frame_ + " " + settings), "ok " + frame_);
  }
  std::string State(const std::string& key) {
    std::istringstream in(sim_.last("state " + frame_));
    for (std::string w; in >> w;)
      if (w.rfind(key + "=", 0) == 0) return w.substr(key.size() + 1);
    return "";
  }
  // The heads of the reports the frame received since `record clear`.
  std::vector<std::string> Written() {
    std::vector<std::string> out;
    for (const std::string& l : sim_.command("record")) {
      std::istringstream in(l);
      std::string tag, time, path, kind, hex;
      in >> tag >> time >> path >> kind >> hex;
      if (tag == "rec") out.push_back(hex.substr(0, 8));
    }
    return out;
  }
  // The about box, opened by what came before; then closed.
  void CloseAboutBox(Program& p) {
    HWND about = WaitWindow(p.pid(), "#32770", "About Vantrel");
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(Until([&] { return Text(GetDlgItem(about, 1010)) == "Vantrel V1.1.4.9"; }, kWaitMs));
    CloseBox(about);
  }
  // The window's system menu, opened from the keyboard: its last entry
  // ("About Vantrel(&A)...", command 0x10) opens the about box.
  void ExpectAboutInSystemMenu(Program& p, HWND window, const char* screenshot) {
    PostMessageA(window, WM_SYSCOMMAND, SC_KEYMENU, ' ');
    HWND menu = WaitWindow(p.pid(), "#32768", nullptr);
    ASSERT_NE(menu, nullptr) << "no system menu";
    PostMessageA(menu, WM_KEYDOWN, VK_UP, 0);
    Sleep(300);
    Screenshot(menu, screenshot);
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    CloseAboutBox(p);
  }
  // Whether the frame received a report starting with `head` (hex) since
  // `record clear`; a failure lists what it received.
  ::testing::AssertionResult Sent(const std::string& head) {
    std::vector<std::string> written;
    if (Until(
            [&] {
              for (const std::string& w : written = Written())
                if (w.rfind(head, 0) == 0) return true;
              return false;
            },
            kWaitMs))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no report " << head << "... among " << Joined(written);
  }
  static std::string Joined(const std::vector<std::string>& words) {
    std::string out = "[";
    for (const std::string& w : words) out += (out.size() > 1 ? " " : "") + w;
    return out + "]";
  }
  // A touch at raw frame coordinates comes out of TUIO at `x`,`y`.
  void ExpectTouchAt(TuioSocket& tuio, int rawX, int rawY, float x, float y) {
    char at[32];
    std::snprintf(at, sizeof at, "%.6f,%.6f", rawX / 4095.0, rawY / 4095.0);
    tuio.Drain();
    sim_.last("touch " + frame_ + " 0:down:" + at);
    monitor::CursorSet got;
    bool seen = false;
    EXPECT_TRUE(Until(
        [&] {
          for (const monitor::TuioBundle& b : tuio.Drain())
            for (const monitor::CursorSet& c : b.sets) got = c, seen = true;
          return seen;
        },
        kWaitMs))
        << "no cursor for " << at;
    EXPECT_NEAR(got.x, x, 1.5 / 4096) << at;
    EXPECT_NEAR(got.y, y, 1.5 / 4096) << at;
    sim_.last("touch " + frame_ + " 0:up:" + at);
  }
  // Runs a calibration from the open calibration dialog up to its verdict
  // box; closes the box.
  void CalibrateUntilVerdict(Program& p, HWND dialog, const std::string& verdict) {
    HWND button = GetDlgItem(dialog, IDC_CALIBRATION);
    ASSERT_TRUE(Until([&] { return IsWindowEnabled(button) != FALSE; }, kWaitMs));
    PostMessageA(button, BM_CLICK, 0, 0);
    HWND box = WaitBox(p.pid(), verdict.c_str());
    ASSERT_NE(box, nullptr) << "no verdict " << verdict;
    EXPECT_EQ(BoxIcon(box), IDI_INFORMATION);
    CloseBox(box);
  }
  // Shows the hidden main window as the tray's double-click does.
  static void DoubleClickTray(HWND main) {
    PostMessageA(main, kTrayCallbackMessage, kTrayIconId, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(Until([&] { return IsWindowVisible(main) != FALSE; }, kWaitMs));
  }
  // Opens the tray menu and picks the entry `downs` arrow presses away.
  HWND PickFromTrayMenu(Program& p, HWND main, int downs, const char* screenshot = nullptr) {
    PostMessageA(main, kTrayCallbackMessage, kTrayIconId, WM_RBUTTONUP);
    HWND menu = WaitWindow(p.pid(), "#32768", nullptr);
    EXPECT_NE(menu, nullptr) << "no tray menu";
    if (!menu) return nullptr;
    if (screenshot) {  // its texts, compared as drawn
      int w = 0, h = 0, ownW = 0, ownH = 0;
      const std::vector<std::uint8_t> own =
          OwnMenuPixels({"About...", nullptr, "Open main window", "Exit"}, ownW, ownH);
      EXPECT_FALSE(own.empty()) << "this process's menu was never drawn";
      EXPECT_TRUE(Until([&] { return Capture(menu, w, h) == own && w == ownW && h == ownH; },
                        kWaitMs))
          << "the tray menu's texts";
    }
    for (int i = 0; i < downs; ++i) PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    if (screenshot) {
      Sleep(300);
      Screenshot(menu, screenshot);
    }
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    return menu;
  }
  // Starts the program with a single-channel frame and waits until its
  // start-up settled: the read-back's reply enabled the buttons (after the
  // mouse-mode command it answers with). The record and the TUIO socket then
  // start empty.
  HWND RunFromHere(Program& p, TuioSocket& tuio) {
    HWND main = p.Run();
    if (main)
      EXPECT_TRUE(Until([&] { return IsWindowEnabled(GetDlgItem(main, kIdCalibration)); }, kWaitMs))
          << "no read-back reply";
    sim_.last("record clear");
    tuio.Drain();
    return main;
  }
  // After an end through the shut-down: a single-b frame's exit commands
  // (mouse mode on at exit, touch output off) and the empty bundle that
  // ends the TUIO session.
  void ExpectShutDown(TuioSocket& tuio) {
    const std::vector<std::string> w = Written();
    ASSERT_GE(w.size(), 2u) << Joined(w);
    EXPECT_EQ(w[w.size() - 2], "fc060102") << Joined(w);
    EXPECT_EQ(w[w.size() - 1], "fc300101") << Joined(w);
    bool ended = false;
    for (const monitor::TuioBundle& b : tuio.Drain())
      ended = ended || (b.profile == "/tuio/2Dcur" && b.alive.empty() && b.fseq == -1);
    EXPECT_TRUE(ended) << "no closing TUIO bundle";
  }

  testsupport::SimControl sim_;
  std::string frame_;
};

TEST_F(TrayProgram, SecondInstanceIsRefusedWhileTheFirstRunsHiddenInTheTray) {
  Plug("split-mt");
  Program p;
  HWND main = p.Run();
  ASSERT_NE(main, nullptr);
  EXPECT_FALSE(IsWindowVisible(main));
  EXPECT_TRUE(TrayIconExists(main));

  const std::size_t second = p.Start("");
  HWND box = WaitWindow(p.pid(second), "#32770", nullptr);
  ASSERT_NE(box, nullptr) << "no message box";
  EXPECT_TRUE(Until([&] { return StaticText(box) == kSecondInstanceText; }, kWaitMs))
      << StaticText(box);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(p.Ended(second, kEndMs));
  EXPECT_TRUE(p.Running());
  EXPECT_TRUE(TrayIconExists(main));

  // An unknown argument: no console, so the usage in a box; status 2.
  const std::size_t wrong = p.Start("--bogus");
  HWND usage = WaitWindow(p.pid(wrong), "#32770", "Vantrel");
  ASSERT_NE(usage, nullptr) << "no usage box";
  EXPECT_TRUE(Until([&] { return StaticText(usage).rfind("usage: ", 0) == 0; }, kWaitMs));
  EXPECT_NE(StaticText(usage).find("| --quit"), std::string::npos) << StaticText(usage);
  EXPECT_EQ(BoxIcon(usage), IDI_EXCLAMATION);
  CloseBox(usage);
  EXPECT_EQ(p.ExitCode(wrong), 2u);

  // A callback for another icon id is not ours: answered 1, no menu.
  DWORD_PTR answer = 0;
  SendMessageTimeoutA(main, kTrayCallbackMessage, kTrayIconId + 1, WM_RBUTTONUP, SMTO_BLOCK, kWaitMs,
                      &answer);
  EXPECT_EQ(answer, 1u);
  // The shell restarted: the icon is gone until its "TaskbarCreated".
  NOTIFYICONDATAA gone{};
  gone.cbSize = sizeof gone;
  gone.hWnd = main;
  gone.uID = kTrayIconId;
  ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &gone));
  EXPECT_FALSE(TrayIconExists(main));
  SendMessageTimeoutA(main, RegisterWindowMessageA("TaskbarCreated"), 0, 0, SMTO_BLOCK, kWaitMs,
                      nullptr);
  EXPECT_TRUE(TrayIconExists(main));
  PickFromTrayMenu(p, main, 1);
  CloseAboutBox(p);

  EXPECT_EQ(p.Quit(), 0u);
  EXPECT_TRUE(p.Ended(kEndMs));
  EXPECT_FALSE(TrayIconExists(main));
  EXPECT_EQ(p.Quit(), 0u) << "--quit without an instance";
}

TEST_F(TrayProgram, TrayMenuWindowAndAboutBoxAndEscapeEndsThroughTheShutDown) {
  Plug("single-b", "calvalid=0");
  TuioSocket tuio;
  ASSERT_TRUE(tuio.bound());
  Program p;
  HWND main = RunFromHere(p, tuio);
  ASSERT_NE(main, nullptr);

  // Menu entries in order: Down once is "About...", twice (past the
  // separator) "Open main window", three times "Exit".
  PickFromTrayMenu(p, main, 1, "tray-menu");
  HWND about = WaitWindow(p.pid(), "#32770", "About Vantrel");
  ASSERT_NE(about, nullptr);
  // Found by its title, which exists before its controls do.
  EXPECT_TRUE(Until([&] { return Text(GetDlgItem(about, 1010)) == "Vantrel V1.1.4.9"; }, kWaitMs));
  Screenshot(about, "about-box");
  PostMessageA(about, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(Until([&] { return !IsWindow(about); }, kWaitMs));

  PickFromTrayMenu(p, main, 2);
  ASSERT_TRUE(Until([&] { return IsWindowVisible(main) != FALSE; }, kWaitMs));
  ExpectAboutInSystemMenu(p, main, "system-menu");
  // The close box hides; the program and its icon stay.
  PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(Until([&] { return !IsWindowVisible(main); }, kWaitMs));
  EXPECT_TRUE(p.Running());
  EXPECT_TRUE(TrayIconExists(main));
  DoubleClickTray(main);
  PostMessageA(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(Until([&] { return !IsWindowVisible(main); }, kWaitMs));
  DoubleClickTray(main);

  // Ctrl held: "Advance", and a click opens nothing.
  HWND aboutButton = GetDlgItem(main, kIdAbout);
  PostMessageA(aboutButton, WM_KEYDOWN, VK_CONTROL, 0);
  EXPECT_TRUE(Until([&] { return Text(aboutButton) == kAdvanceText; }, kWaitMs));
  SendMessageA(aboutButton, BM_CLICK, 0, 0);
  Sleep(300);
  EXPECT_EQ(FindWindowOf(p.pid(), "#32770", "About Vantrel"), nullptr);
  PostMessageA(aboutButton, WM_KEYUP, VK_CONTROL, 0);
  EXPECT_TRUE(Until([&] { return Text(aboutButton) == kAboutText; }, kWaitMs));

  sim_.last("record clear");
  tuio.Drain();
  PostMessageA(aboutButton, WM_KEYDOWN, VK_ESCAPE, 0);
  ASSERT_TRUE(p.Ended(kEndMs));
  ExpectShutDown(tuio);
}

TEST_F(TrayProgram, ExitFromTheTrayMenuAndTheSessionEndRunTheShutDown) {
  Plug("single-b", "calvalid=0");
  TuioSocket tuio;
  ASSERT_TRUE(tuio.bound());
  {
    Program p;
    HWND main = RunFromHere(p, tuio);
    ASSERT_NE(main, nullptr);
    PickFromTrayMenu(p, main, 3);
    ASSERT_TRUE(p.Ended(kEndMs));
    ExpectShutDown(tuio);
    EXPECT_FALSE(TrayIconExists(main));
  }
  {
    // Log-off: Windows ends the process after WM_ENDSESSION returns.
    Program p;
    HWND main = RunFromHere(p, tuio);
    ASSERT_NE(main, nullptr);
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_BLOCK, kWaitMs, &answer);
    EXPECT_EQ(answer, TRUE);
    SendMessageTimeoutA(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_BLOCK, kEndMs, nullptr);
    ExpectShutDown(tuio);
    EXPECT_TRUE(p.Ended(kEndMs));
  }
}

TEST_F(TrayProgram, CalibrationButtonRunsAWholeCalibrationThenTheReadBackAndTheNewTransform) {
  Plug("single-b", "calvalid=0 verdict=0 order=1432 target-delay=300");
  TuioSocket tuio;
  ASSERT_TRUE(tuio.bound());
  Program p;
  HWND main = RunFromHere(p, tuio);
  ASSERT_NE(main, nullptr);
  DoubleClickTray(main);
  HWND button = GetDlgItem(main, kIdCalibration);
  ASSERT_TRUE(Until([&] { return IsWindowEnabled(button) != FALSE; }, kWaitMs));

  // Posted as the click's WM_COMMAND: the handler runs the dialog modally.
  sim_.last("record clear");
  PostMessageA(main, WM_COMMAND, MAKEWPARAM(kIdCalibration, BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
  HWND dialog = WaitWindow(p.pid(), "#32770", "IR Touch calibration tool");
  ASSERT_NE(dialog, nullptr);
  HWND exit = nullptr;
  ASSERT_TRUE(Until([&] { return (exit = GetDlgItem(dialog, IDC_EXIT)) != nullptr; }, kWaitMs));
  Screenshot(dialog, "calibration-dialog-from-main-window");
  // Its set-up asks the single-channel frame for the right-button settings.
  EXPECT_TRUE(Sent("fc03"));
  ASSERT_TRUE(Until([&] { return IsWindowEnabled(GetDlgItem(dialog, IDC_CALIBRATION)); }, kWaitMs));
  ExpectCalibrationTemplate(dialog);
  ExpectAboutInSystemMenu(p, dialog, "calibration-system-menu");
  PostMessageA(GetDlgItem(dialog, IDC_ABOUT), BM_CLICK, 0, 0);
  CloseAboutBox(p);
  // The selector's change reads the settings again.
  sim_.last("record clear");
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SELECTOR, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_SELECTOR)));
  EXPECT_TRUE(Sent("fc03"));
  ASSERT_TRUE(Until([&] { return IsWindowEnabled(GetDlgItem(dialog, IDC_CALIBRATION)); }, kWaitMs));
  // A refused time: the exclamation.
  SendMessageA(GetDlgItem(dialog, IDC_RB_TIME), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("499"));
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_RB_OK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_RB_OK)));
  HWND refused = WaitBox(p.pid(), "Please input a number from500to10000.");
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(BoxIcon(refused), IDI_EXCLAMATION);
  CloseBox(refused);

  // The frame names 1, 4, 3, 2; Enter in the target window hides it (its
  // OK) and the frame goes on to its verdict.
  sim_.last("record clear");
  bool targetHidden = false;
  std::thread enter([&] {
    HWND target = WaitWindow(p.pid(), "#32770", "");
    if (!target || !Until([&] { return IsWindowVisible(target) != FALSE; }, kWaitMs)) return;
    PostMessageA(target, WM_KEYDOWN, VK_RETURN, 0);
    targetHidden = Until([&] { return !IsWindowVisible(target); }, kWaitMs);
  });
  CalibrateUntilVerdict(p, dialog, "Calibration successful.");
  enter.join();
  EXPECT_TRUE(targetHidden);
  std::vector<std::string> calibration;
  for (const std::string& w : Written())
    if (w.rfind("fc01", 0) == 0) calibration.push_back(w);
  EXPECT_EQ(calibration, (std::vector<std::string>{"fc010000", "fc010100", "fc010400", "fc010300",
                                                   "fc010200", "fc010500"}));

  // Closing it: the frame leaves calibration (255), then the main window
  // asks for the new calibration block.
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED),
               reinterpret_cast<LPARAM>(exit));
  ASSERT_TRUE(Until([&] { return !IsWindow(dialog); }, kWaitMs));
  EXPECT_TRUE(Sent("fc01ff"));
  EXPECT_TRUE(Sent("fc05"));
  EXPECT_TRUE(Until([&] { return IsWindowEnabled(button) != FALSE; }, kWaitMs));
  // Where the frame measured targets 1 and 3 is where they are drawn.
  EXPECT_TRUE(Sent("fc0601"));  // the read-back is handled before the mouse mode
  ExpectTouchAt(tuio, 524, 500, 0.125f, 0.125f);
  ExpectTouchAt(tuio, 3596, 3572, 0.875f, 0.875f);
  EXPECT_EQ(p.Quit(), 0u);
}

struct LayoutCase {
  const char* model;
  int width;
  bool calibration, mouse;
  const char* screenshot;
};

TEST_F(TrayProgram, LayoutForEachDeviceClassInPixelsAndASplitChannelCalibration) {
  TuioSocket tuio;
  ASSERT_TRUE(tuio.bound());
  const LayoutCase cases[] = {{"series", 198, false, true, nullptr},
                              {"split-2pt", 198, true, false, "main-window-3105"},
                              {"split-mt", 285, true, true, "main-window"}};
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.model);
    Plug(c.model);
    Program p;
    HWND main = p.Run();
    ASSERT_NE(main, nullptr);
    DeviceProfile profile;
    profile.VersionNumber = c.model == std::string("split-mt") ? 0x3301 : 0x3105;
    profile.Series01xx = c.model == std::string("series");
    const MainWindowLayout want = LayoutForDevice(profile);
    HWND cal = GetDlgItem(main, kIdCalibration), mouse = GetDlgItem(main, kIdMouse),
         about = GetDlgItem(main, kIdAbout);
    // The layout is posted to the window's thread: wait until it is done.
    RECT r;
    EXPECT_TRUE(Until(
        [&] {
          GetWindowRect(main, &r);
          return r.right - r.left == c.width && Shown(cal) == c.calibration &&
                 Shown(mouse) == c.mouse;
        },
        kWaitMs));
    EXPECT_EQ(r.right - r.left, c.width);
    EXPECT_EQ(r.bottom - r.top, 100);
    EXPECT_EQ(Shown(cal), c.calibration);
    EXPECT_EQ(Shown(mouse), c.mouse);
    if (c.calibration) {
      EXPECT_EQ(ClientRect(cal), want.calibration.rect);
    }
    if (c.mouse) {
      EXPECT_EQ(ClientRect(mouse), want.mouse.rect);
    }
    EXPECT_EQ(ClientRect(about), want.about.rect);
    if (c.model == std::string("split-2pt")) {
      // Present at start-up: its buttons are enabled without a reply.
      EXPECT_TRUE(Until([&] { return IsWindowEnabled(cal) != FALSE; }, kWaitMs));
      // Woken from sleep: the frame forgot its state, so its start-up
      // commands (touch output on) go out again.
      sim_.last("record clear");
      SendMessageTimeoutA(main, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0, SMTO_BLOCK, kWaitMs,
                          nullptr);
      EXPECT_TRUE(Until(
          [&] {
            for (const std::string& l : sim_.command("record"))
              if (l.find(" w fc3001010001") != std::string::npos) return true;
            return false;
          },
          kWaitMs))
          << "no touch output on after the resume";
      // A split-channel frame calibrates itself: no leave command, no
      // read-back, and touches stay as the frame reports them.
      sim_.last("set " + frame_ + " verdict=1 target-delay=50");
      // Plugged in while the program runs: the arrival enables the button.
      tuio.Drain();
      sim_.last("unplug " + frame_);
      EXPECT_TRUE(Until(  // the removal is handled: the output stopped
          [&] {
            for (const monitor::TuioBundle& b : tuio.Drain())
              if (b.alive.empty() && b.fseq == -1) return true;
            return false;
          },
          kWaitMs));
      sim_.last("plug " + frame_);
      DoubleClickTray(main);
      ASSERT_TRUE(Until([&] { return IsWindowEnabled(cal) != FALSE; }, kWaitMs));
      PostMessageA(cal, BM_CLICK, 0, 0);
      HWND dialog = WaitWindow(p.pid(), "#32770", "IR Touch calibration tool");
      ASSERT_NE(dialog, nullptr);
      sim_.last("record clear");
      CalibrateUntilVerdict(p, dialog,
                            "Calibration error is too large.We recommend calibrate it again.");
      PostMessageA(GetDlgItem(dialog, IDC_EXIT), BM_CLICK, 0, 0);
      ASSERT_TRUE(Until([&] { return !IsWindow(dialog); }, kWaitMs));
      Sleep(300);
      for (const std::string& w : Written())
        EXPECT_TRUE(w.substr(2, 2) != "05" && w.substr(2, 4) != "01ff") << w;
      EXPECT_TRUE(Until([&] { return IsWindowEnabled(cal) != FALSE; }, kWaitMs));
      ExpectTouchAt(tuio, 512, 512, 0.125f, 0.125f);
    }
    if (c.screenshot) {
      DoubleClickTray(main);
      Screenshot(main, c.screenshot);
      // The about button's left edge is drawn where it was placed.
      int w = 0, h = 0;
      std::vector<std::uint8_t> rgb;
      POINT edge{want.about.rect.x, want.about.rect.y + want.about.rect.height / 2};
      POINT gap{want.about.rect.x - 4, edge.y};
      ClientToScreen(main, &edge);
      ClientToScreen(main, &gap);
      GetWindowRect(main, &r);
      const auto at = [&](POINT pt) {
        const std::size_t i = (static_cast<std::size_t>(pt.y - r.top) * w + (pt.x - r.left)) * 3;
        return (rgb[i] << 16) | (rgb[i + 1] << 8) | rgb[i + 2];
      };
      // Once drawn (another process's drawing reaches the screen later).
      EXPECT_TRUE(Until([&] { return (rgb = Capture(main, w, h)), at(edge) != at(gap); }, kWaitMs))
          << "no button edge at the about button's place";
    }
    EXPECT_EQ(p.Quit(), 0u);
    sim_.last("unplug " + frame_);
    frame_.clear();
  }
}

TEST_F(TrayProgram, StoredMouseSettingIsAppliedAndTheButtonTogglesTextFileAndFrame) {
  Plug("single-b", "calvalid=0");
  Program p;
  std::ofstream(p.settings()) << "[Settings]\r\nMouseEnable=0\r\n";
  // The stored setting labels the button before the tray icon appears.
  std::string labelWhenIconCame;
  HWND main = p.Run([&](HWND w) {
    if (labelWhenIconCame.empty() && TrayIconExists(w))
      labelWhenIconCame = Text(GetDlgItem(w, kIdMouse));
  });
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(labelWhenIconCame, kEnableMouseText);
  HWND button = GetDlgItem(main, kIdMouse);
  EXPECT_EQ(Text(button), kEnableMouseText);
  EXPECT_TRUE(Until([&] { return State("mouse") == "0"; }, kWaitMs)) << State("mouse");
  // Enabled by the calibration read-back's reply.
  ASSERT_TRUE(Until([&] { return IsWindowEnabled(button) != FALSE; }, kWaitMs));
  DoubleClickTray(main);

  SendMessageA(button, BM_CLICK, 0, 0);
  EXPECT_TRUE(Until([&] { return Text(button) == kDisableMouseText; }, kWaitMs));
  EXPECT_TRUE(Until([&] { return State("mouse") == "1"; }, kWaitMs));
  char stored[8] = {};
  GetPrivateProfileStringA("Settings", "MouseEnable", "", stored, sizeof stored,
                           p.settings().c_str());
  EXPECT_STREQ(stored, "1");

  SendMessageA(button, BM_CLICK, 0, 0);
  EXPECT_TRUE(Until([&] { return Text(button) == kEnableMouseText; }, kWaitMs));
  EXPECT_TRUE(Until([&] { return State("mouse") == "0"; }, kWaitMs));
  GetPrivateProfileStringA("Settings", "MouseEnable", "", stored, sizeof stored,
                           p.settings().c_str());
  EXPECT_STREQ(stored, "0");
  EXPECT_EQ(p.Quit(), 0u);
}

TEST_F(TrayProgram, AutostartBoxMirrorsTheRunValueAndDoubleClickValuesAreReset) {
  Plug("split-mt");
  Program p;
  // This very program in other letters' case is another program.
  std::string otherCase = p.exe();
  CharUpperA(&otherCase[0]);
  ASSERT_NE(otherCase, p.exe());
  WriteRegistry(kRunKey, kAutostartValueName, otherCase);
  for (const char* v : {"DoubleClickHeight", "DoubleClickWidth", "DoubleClickSpeed"})
    WriteRegistry(kMouseKey, v, "7");
  HWND main = p.Run();
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(ReadRegistry(kRunKey, kAutostartValueName), "<none>") << "stale entry kept";
  HWND box = GetDlgItem(main, kIdAutostart);
  EXPECT_EQ(SendMessageA(box, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(ReadRegistry(kMouseKey, "DoubleClickHeight"), "40");
  EXPECT_EQ(ReadRegistry(kMouseKey, "DoubleClickWidth"), "40");
  EXPECT_EQ(ReadRegistry(kMouseKey, "DoubleClickSpeed"), "480");

  DoubleClickTray(main);
  SendMessageA(box, BM_CLICK, 0, 0);
  EXPECT_EQ(ReadRegistry(kRunKey, kAutostartValueName), p.exe());
  EXPECT_EQ(p.Quit(), 0u);

  // The next start finds its own path: the box is ticked.
  HWND again = p.Run();
  ASSERT_NE(again, nullptr);
  box = GetDlgItem(again, kIdAutostart);
  EXPECT_EQ(SendMessageA(box, BM_GETCHECK, 0, 0), BST_CHECKED);
  DoubleClickTray(again);
  SendMessageA(box, BM_CLICK, 0, 0);
  EXPECT_EQ(ReadRegistry(kRunKey, kAutostartValueName), "<none>");
  EXPECT_EQ(p.Quit(), 0u);
}

}  // namespace
