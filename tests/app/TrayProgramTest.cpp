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
#include <sstream>
#include <string>
#include <vector>

#include "app/Autostart.h"
#include "app/MainWindowRules.h"
#include "calibration/CalibrationIds.h"
#include "tests/platform/SimControl.h"
#include "tests/support/PngWriter.h"
#include "tools/monitor/TuioCursorTracker.h"

namespace {

constexpr int kStartMs = 30000;
constexpr int kEndMs = 20000;

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
  SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_BLOCK, 5000,
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
};

BOOL CALLBACK MatchWindow(HWND h, LPARAM lp) {
  auto* f = reinterpret_cast<Found*>(lp);
  DWORD owner = 0;
  GetWindowThreadProcessId(h, &owner);
  char cls[64] = {}, title[128] = {};
  GetClassNameA(h, cls, sizeof cls);
  GetWindowTextA(h, title, sizeof title);
  if (owner == f->pid && std::string(cls) == f->cls &&
      (!f->title || f->title == std::string(title))) {
    f->hwnd = h;
    return FALSE;
  }
  return TRUE;
}

HWND FindWindowOf(DWORD pid, const char* cls, const char* title) {
  Found f{pid, cls, title, nullptr};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&f));
  return f.hwnd;
}

HWND WaitWindow(DWORD pid, const char* cls, const char* title, int timeoutMs = 10000) {
  HWND h = nullptr;
  Until([&] { return (h = FindWindowOf(pid, cls, title)) != nullptr; }, timeoutMs);
  return h;
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

  // Starts a process of this copy; its index.
  std::size_t Start(const std::string& args) {
    std::string line = "\"" + exe_ + "\" " + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
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
  HWND Run() {
    DeleteFileA((dir_ + "\\ready").c_str());
    main_ = Start("--ready-file ready");
    if (!Until(
            [&] {
              return GetFileAttributesA((dir_ + "\\ready").c_str()) != INVALID_FILE_ATTRIBUTES;
            },
            kStartMs))
      return nullptr;
    return WaitWindow(pid(main_), "#32770", "Vantrel");
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
  DWORD Quit() {
    const std::size_t q = Start("--quit");
    if (!Ended(q, kEndMs)) return 999;
    DWORD code = 0;
    GetExitCodeProcess(procs_[q].hProcess, &code);
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
  // Shows the hidden main window as the tray's double-click does.
  static void DoubleClickTray(HWND main) {
    PostMessageA(main, kTrayCallbackMessage, kTrayIconId, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(Until([&] { return IsWindowVisible(main) != FALSE; }, 5000));
  }
  // Opens the tray menu and picks the entry `downs` arrow presses away.
  HWND PickFromTrayMenu(Program& p, HWND main, int downs, const char* screenshot = nullptr) {
    PostMessageA(main, kTrayCallbackMessage, kTrayIconId, WM_RBUTTONUP);
    HWND menu = WaitWindow(p.pid(), "#32768", nullptr);
    EXPECT_NE(menu, nullptr) << "no tray menu";
    if (!menu) return nullptr;
    for (int i = 0; i < downs; ++i) PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    if (screenshot) {
      Sleep(300);
      Screenshot(menu, screenshot);
    }
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    return menu;
  }
  // Starts the program; the record and the TUIO socket then start empty.
  HWND RunFromHere(Program& p, TuioSocket& tuio) {
    HWND main = p.Run();
    sim_.last("record clear");
    tuio.Drain();
    return main;
  }
  // After an end through the shut-down: a single-b frame's exit commands
  // (mouse mode on at exit, touch output off) and the empty bundle that
  // ends the TUIO session.
  void ExpectShutDown(TuioSocket& tuio) {
    const std::vector<std::string> w = Written();
    ASSERT_GE(w.size(), 2u);
    EXPECT_EQ(w[w.size() - 2], "fc060102");
    EXPECT_EQ(w[w.size() - 1], "fc300101");
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
  EXPECT_TRUE(Until([&] { return StaticText(box) == kSecondInstanceText; }, 5000))
      << StaticText(box);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(p.Ended(second, kEndMs));
  EXPECT_TRUE(p.Running());
  EXPECT_TRUE(TrayIconExists(main));

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
  HWND main = p.Run();
  ASSERT_NE(main, nullptr);

  // Menu entries in order: Down once is "About...", twice (past the
  // separator) "Open main window", three times "Exit".
  PickFromTrayMenu(p, main, 1, "tray-menu");
  HWND about = WaitWindow(p.pid(), "#32770", "About Vantrel");
  ASSERT_NE(about, nullptr);
  // Found by its title, which exists before its controls do.
  EXPECT_TRUE(Until([&] { return Text(GetDlgItem(about, 1010)) == "Vantrel V1.1.4.9"; }, 5000));
  Screenshot(about, "about-box");
  PostMessageA(about, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(Until([&] { return !IsWindow(about); }, 5000));

  PickFromTrayMenu(p, main, 2);
  ASSERT_TRUE(Until([&] { return IsWindowVisible(main) != FALSE; }, 5000));
  // The close box hides; the program and its icon stay.
  PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(Until([&] { return !IsWindowVisible(main); }, 5000));
  EXPECT_TRUE(p.Running());
  EXPECT_TRUE(TrayIconExists(main));
  DoubleClickTray(main);
  PostMessageA(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(Until([&] { return !IsWindowVisible(main); }, 5000));
  DoubleClickTray(main);

  // Ctrl held: "Advance", and a click opens nothing.
  HWND aboutButton = GetDlgItem(main, kIdAbout);
  PostMessageA(aboutButton, WM_KEYDOWN, VK_CONTROL, 0);
  EXPECT_TRUE(Until([&] { return Text(aboutButton) == kAdvanceText; }, 5000));
  SendMessageA(aboutButton, BM_CLICK, 0, 0);
  Sleep(300);
  EXPECT_EQ(FindWindowOf(p.pid(), "#32770", "About Vantrel"), nullptr);
  PostMessageA(aboutButton, WM_KEYUP, VK_CONTROL, 0);
  EXPECT_TRUE(Until([&] { return Text(aboutButton) == kAboutText; }, 5000));

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
    SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_BLOCK, 5000, &answer);
    EXPECT_EQ(answer, TRUE);
    SendMessageTimeoutA(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_BLOCK, kEndMs, nullptr);
    ExpectShutDown(tuio);
    EXPECT_TRUE(p.Ended(kEndMs));
  }
}

TEST_F(TrayProgram, CalibrationButtonRunsTheCalibrationDialogThenTheReadBack) {
  Plug("single-b", "calvalid=0");
  TuioSocket tuio;
  ASSERT_TRUE(tuio.bound());
  Program p;
  HWND main = RunFromHere(p, tuio);
  ASSERT_NE(main, nullptr);
  DoubleClickTray(main);
  HWND button = GetDlgItem(main, kIdCalibration);
  ASSERT_TRUE(Until([&] { return IsWindowEnabled(button) != FALSE; }, 5000));

  // Posted as the click's WM_COMMAND: the handler runs the dialog modally.
  sim_.last("record clear");
  PostMessageA(main, WM_COMMAND, MAKEWPARAM(kIdCalibration, BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
  HWND dialog = WaitWindow(p.pid(), "#32770", "IR Touch calibration tool");
  ASSERT_NE(dialog, nullptr);
  HWND exit = nullptr;
  ASSERT_TRUE(Until([&] { return (exit = GetDlgItem(dialog, IDC_EXIT)) != nullptr; }, 5000));
  Screenshot(dialog, "calibration-dialog-from-main-window");
  // Its set-up asks the single-channel frame for the right-button settings.
  auto sent = [&](const std::string& head) {
    return Until(
        [&] {
          for (const std::string& w : Written())
            if (w.rfind(head, 0) == 0) return true;
          return false;
        },
        5000);
  };
  EXPECT_TRUE(sent("fc03"));
  // Closing it: the frame leaves calibration (255), then the main window
  // asks for the new calibration block.
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED),
               reinterpret_cast<LPARAM>(exit));
  ASSERT_TRUE(Until([&] { return !IsWindow(dialog); }, 5000));
  EXPECT_TRUE(sent("fc01ff"));
  EXPECT_TRUE(sent("fc05"));
  EXPECT_TRUE(Until([&] { return IsWindowEnabled(button) != FALSE; }, 5000));
  EXPECT_EQ(p.Quit(), 0u);
}

struct LayoutCase {
  const char* model;
  int width;
  bool calibration, mouse;
  const char* screenshot;
};

TEST_F(TrayProgram, LayoutForEachDeviceClassInPixels) {
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
        5000));
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
    if (c.screenshot) {
      DoubleClickTray(main);
      Screenshot(main, c.screenshot);
      // The about button's left edge is drawn where it was placed.
      int w = 0, h = 0;
      const std::vector<std::uint8_t> rgb = Capture(main, w, h);
      POINT edge{want.about.rect.x, want.about.rect.y + want.about.rect.height / 2};
      POINT gap{want.about.rect.x - 4, edge.y};
      ClientToScreen(main, &edge);
      ClientToScreen(main, &gap);
      GetWindowRect(main, &r);
      const auto at = [&](POINT pt) {
        const std::size_t i = (static_cast<std::size_t>(pt.y - r.top) * w + (pt.x - r.left)) * 3;
        return (rgb[i] << 16) | (rgb[i + 1] << 8) | rgb[i + 2];
      };
      EXPECT_NE(at(edge), at(gap)) << "no button edge at the about button's place";
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
  HWND main = p.Run();
  ASSERT_NE(main, nullptr);
  HWND button = GetDlgItem(main, kIdMouse);
  EXPECT_EQ(Text(button), kEnableMouseText);
  EXPECT_TRUE(Until([&] { return State("mouse") == "0"; }, 5000)) << State("mouse");
  // Enabled by the calibration read-back's reply.
  ASSERT_TRUE(Until([&] { return IsWindowEnabled(button) != FALSE; }, 10000));
  DoubleClickTray(main);

  SendMessageA(button, BM_CLICK, 0, 0);
  EXPECT_TRUE(Until([&] { return Text(button) == kDisableMouseText; }, 5000));
  EXPECT_TRUE(Until([&] { return State("mouse") == "1"; }, 5000));
  char stored[8] = {};
  GetPrivateProfileStringA("Settings", "MouseEnable", "", stored, sizeof stored,
                           p.settings().c_str());
  EXPECT_STREQ(stored, "1");

  SendMessageA(button, BM_CLICK, 0, 0);
  EXPECT_TRUE(Until([&] { return Text(button) == kEnableMouseText; }, 5000));
  EXPECT_TRUE(Until([&] { return State("mouse") == "0"; }, 5000));
  GetPrivateProfileStringA("Settings", "MouseEnable", "", stored, sizeof stored,
                           p.settings().c_str());
  EXPECT_STREQ(stored, "0");
  EXPECT_EQ(p.Quit(), 0u);
}

TEST_F(TrayProgram, AutostartBoxMirrorsTheRunValueAndDoubleClickValuesAreReset) {
  Plug("split-mt");
  Program p;
  WriteRegistry(kRunKey, kAutostartValueName, "C:\\elsewhere\\Vantrel.exe");
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
