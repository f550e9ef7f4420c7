// The calibration dialog as a user drives it, from another process: the
// stand-in main window (calibration_host) runs the service's pipeline
// against frames of the simulator; this test clicks its Calibration button,
// the dialog's buttons and message boxes by window and control, reads their
// texts, checks the frame's record, the target window's pixels on the
// screen (Xvfb, 1024x768) and the TUIO datagrams, and keeps screenshots.
#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "calibration/CalibrationIds.h"
#include "calibration/TargetGeometry.h"
#include "input/CalibrationTransform.h"
#include "osc/OscReceivedElements.h"
#include "tests/support/PngWriter.h"
#include "tests/support/SimControl.h"

namespace {

using testsupport::Image;

constexpr int kHostCalibrationButton = 1001;
const wchar_t kDialogCaption[] = L"IR Touch calibration tool";
const wchar_t kTargetText[] = L"Please press the red cross for calibration.";

bool Eventually(const std::function<bool()>& pred, int ms = 15000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// WM_GETTEXT: GetWindowText does not ask a control of another process.
std::wstring Text(HWND w) {
  wchar_t buf[512] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(w, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 5000,
                      &copied);
  return buf;
}

std::wstring ClassOf(HWND w) {
  wchar_t buf[64] = {};
  GetClassNameW(w, buf, 64);
  return buf;
}

std::string ExeDir() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string p = path;
  return p.substr(0, p.find_last_of("\\/") + 1);
}

// Visible top-level windows of one process.
struct WindowsOf {
  DWORD pid;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND w, LPARAM l) {
  auto* c = reinterpret_cast<WindowsOf*>(l);
  DWORD p = 0;
  GetWindowThreadProcessId(w, &p);
  if (p == c->pid && IsWindowVisible(w)) c->found.push_back(w);
  return TRUE;
}

std::vector<HWND> TopWindows(DWORD pid) {
  WindowsOf windows{pid, {}};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
  return windows.found;
}

// A message box: its caption and the text of its static control.
struct Box {
  HWND hwnd = nullptr;
  std::wstring caption, text;
};

Box FindMessageBox(DWORD pid) {
  for (HWND w : TopWindows(pid)) {
    if (ClassOf(w) != L"#32770" || Text(w) == kDialogCaption) continue;
    if (GetDlgItem(w, IDC_TARGET_TEXT)) continue;
    Box box{w, Text(w), {}};
    for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
      if (ClassOf(c) == L"Static" && !Text(c).empty()) box.text = Text(c);
    }
    if (!box.text.empty()) return box;
  }
  return {};
}

// The whole screen as the X server shows it.
Image CaptureScreen() {
  Image img;
  img.width = GetSystemMetrics(SM_CXSCREEN);
  img.height = GetSystemMetrics(SM_CYSCREEN);
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = img.width;
  bi.bmiHeader.biHeight = -img.height;  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, img.width, img.height, screen, 0, 0, SRCCOPY);
  GdiFlush();
  const auto* p = static_cast<const std::uint32_t*>(bits);
  img.pixels.assign(p, p + std::size_t(img.width) * img.height);
  for (auto& px : img.pixels) px &= 0xFFFFFF;
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return img;
}

Image CaptureWindow(HWND w) {
  RECT r;
  GetWindowRect(w, &r);
  return CaptureScreen().crop(r.left, r.top, r.right, r.bottom);
}

// TUIO cursors as a receiver sees them: the "set" messages of /tuio/2Dcur.
class TuioReceiver {
 public:
  TuioReceiver() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    sock_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(sock_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int len = sizeof a;
    getsockname(sock_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    DWORD timeout = 100;
    setsockopt(sock_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof timeout);
  }
  ~TuioReceiver() { closesocket(sock_); }
  int port() const { return port_; }
  void Drain() {
    float x, y;
    while (NextSet(x, y, 0)) {
    }
  }
  // The next cursor position published within `ms`.
  bool NextSet(float& x, float& y, int ms = 3000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    char buf[4096];
    do {
      const int n = recv(sock_, buf, sizeof buf, 0);
      if (n <= 0) continue;
      if (ParseSet(buf, n, x, y)) return true;
    } while (std::chrono::steady_clock::now() < end);
    return false;
  }

 private:
  static bool ParseSet(const char* data, int n, float& x, float& y) {
    try {
      osc::ReceivedPacket packet(data, n);
      if (!packet.IsBundle()) return false;
      osc::ReceivedBundle bundle(packet);
      for (auto e = bundle.ElementsBegin(); e != bundle.ElementsEnd(); ++e) {
        if (e->IsBundle()) continue;
        osc::ReceivedMessage m(*e);
        auto arg = m.ArgumentsBegin();
        if (std::string(m.AddressPattern()) != "/tuio/2Dcur" || !arg->IsString() ||
            std::string(arg->AsString()) != "set")
          continue;
        ++arg;  // session id
        x = (++arg)->AsFloat();
        y = (++arg)->AsFloat();
        return true;
      }
    } catch (const osc::Exception&) {
    }
    return false;
  }
  SOCKET sock_;
  int port_ = 0;
};

class CalibrationGui : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sim_.connected()) << "FRAMESIM_ADDR names no simulator"; }
  void TearDown() override {
    StopHost();
    if (!frame_.empty()) sim_.last("unplug " + frame_);
  }

  void AddFrame(const std::string& model, const std::string& name, const std::string& settings) {
    ASSERT_EQ(sim_.last("add " + model + " " + name + " " + settings), "ok " + name);
    frame_ = name;
    sim_.last("record clear");
  }

  void StartHost() {
    std::string cmd =
        "\"" + ExeDir() + "calibration_host.exe\" --tuio-port " + std::to_string(tuio_.port());
    STARTUPINFOA si{};
    si.cb = sizeof si;
    ASSERT_TRUE(CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                               &process_));
    ASSERT_TRUE(Eventually([&] {
      for (HWND w : TopWindows(process_.dwProcessId))
        if (Text(w) == L"Calibration host") host_ = w;
      return host_ != nullptr;
    }));
    calibrationButton_ = GetDlgItem(host_, kHostCalibrationButton);
  }

  void StopHost() {
    if (!process_.hProcess) return;
    PostMessageW(host_, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process_.hProcess, 15000) != WAIT_OBJECT_0) {
      TerminateProcess(process_.hProcess, 1);
      ADD_FAILURE() << "the host did not end";
    }
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    process_ = {};
  }

  // The Calibration button, as soon as the frame let it be enabled; then
  // the dialog.
  void OpenDialog() {
    ASSERT_TRUE(Eventually([&] { return IsWindowEnabled(calibrationButton_) != FALSE; }));
    PostMessageW(calibrationButton_, BM_CLICK, 0, 0);
    ASSERT_TRUE(Eventually([&] {
      for (HWND w : TopWindows(process_.dwProcessId))
        if (Text(w) == kDialogCaption) dialog_ = w;
      return dialog_ != nullptr;
    }));
  }
  HWND Item(int id) { return GetDlgItem(dialog_, id); }
  void Click(int id) { PostMessageW(Item(id), BM_CLICK, 0, 0); }
  bool Enabled(int id) { return IsWindowEnabled(Item(id)) != FALSE; }

  HWND TargetWindow() {
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"#32770", nullptr));) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      if (pid == process_.dwProcessId && GetDlgItem(w, IDC_TARGET_TEXT)) return w;
    }
    return nullptr;
  }

  Box WaitForMessageBox() {
    Box box;
    Eventually([&] { return (box = FindMessageBox(process_.dwProcessId)).hwnd != nullptr; });
    return box;
  }
  void CloseMessageBox(const Box& box) {
    PostMessageW(box.hwnd, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(Eventually([&] { return !IsWindow(box.hwnd) || !IsWindowVisible(box.hwnd); }));
  }

  // Commands the frame received, from byte 1, as hex up to the last
  // non-zero byte; only those whose code is in `codes`.
  std::vector<std::string> Commands(std::set<int> codes) {
    std::vector<std::string> out;
    for (const std::string& line : sim_.command("record")) {
      std::istringstream in(line);
      std::string tag, time, path, kind, hex;
      in >> tag >> time >> path >> kind >> hex;
      if (tag != "rec" || kind != "w" || hex.size() < 4) continue;
      if (!codes.count(std::stoi(hex.substr(2, 2), nullptr, 16))) continue;
      std::size_t end = hex.size();
      while (end > 4 && hex.compare(end - 2, 2, "00") == 0) end -= 2;
      out.push_back(hex.substr(2, end - 2));
    }
    return out;
  }
  bool SeesCommand(const std::string& hex, int code) {
    return Eventually([&] {
      for (const std::string& c : Commands({code}))
        if (c == hex) return true;
      return false;
    });
  }

  void KeepScreenshot(const Image& image, const std::string& name) {
    EXPECT_TRUE(testsupport::WritePng(name + ".png", image)) << name;
  }

  testsupport::SimControl sim_;
  TuioReceiver tuio_;
  std::string frame_;
  PROCESS_INFORMATION process_{};
  HWND host_ = nullptr, calibrationButton_ = nullptr, dialog_ = nullptr;
};

// The target window's pixels: the whole cross red where the target is, the
// ring's red pixels at one radius around it, nothing red anywhere else.
struct TargetPixels {
  int target = 0;  // whose cross is complete
  int ringRadius = 0;
  std::string fault;
};

TargetPixels CheckTargetPixels(const Image& img, POINT origin) {
  constexpr std::uint32_t kRed = 0xFF0000;
  TargetPixels out;
  const int w = img.width, h = img.height;
  const int c = CrossSize(w), half = c / 2;
  TargetPoint at;
  for (int n = 1; n <= 4 && !out.target; ++n) {
    TargetPosition(n, w, h, at);
    bool whole = true;
    for (int d = -half; d < half; ++d) {
      whole = whole && img.at(origin.x + at.x + d, origin.y + at.y) == kRed &&
              img.at(origin.x + at.x, origin.y + at.y + d) == kRed;
    }
    if (whole) out.target = n;
  }
  if (!out.target) {
    out.fault = "no complete cross";
    return out;
  }
  TargetPosition(out.target, w, h, at);
  std::set<int> radii;
  for (int r = NextRingRadius(0, w); radii.insert(r).second;) r = NextRingRadius(r, w);
  std::map<int, int> onRing;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (img.at(x, y) != kRed) continue;
      const int dx = x - origin.x - at.x, dy = y - origin.y - at.y;
      if ((dy == 0 && dx >= -half && dx < half) || (dx == 0 && dy >= -half && dy < half)) continue;
      const double d = std::sqrt(double(dx) * dx + double(dy) * dy);
      int found = 0;
      for (int r : radii)
        if (std::fabs(d - r) <= 2.5) found = r;
      if (!found) {
        out.fault = "red pixel at " + std::to_string(x) + "," + std::to_string(y);
        return out;
      }
      ++onRing[found];
    }
  }
  for (const auto& [r, count] : onRing) {
    // A whole outline has about 2*pi*r pixels; part of a big one is off-screen.
    if (count >= 3 * r) out.ringRadius = out.ringRadius ? -1 : r;
  }
  if (out.ringRadius < 0) out.fault = "rings of two radii";
  return out;
}

TEST_F(CalibrationGui, SingleChannelFrameFromTheButtonToTheNewTransform) {
  AddFrame("single-a", "calgui-a", "verdict=0 order=1432 target-delay=700 rbtime=1500 rbrange=7");
  StartHost();
  OpenDialog();
  // The frame's right-button settings fill the fields and end the busy state.
  ASSERT_TRUE(Eventually([&] { return Enabled(IDC_CALIBRATION); }));
  EXPECT_EQ(Text(Item(IDC_RB_TIME)), L"1500");
  EXPECT_EQ(Text(Item(IDC_RB_RANGE)), L"7");
  EXPECT_EQ(Text(Item(IDC_TIME_LABEL)), L"Time(ms)\xFF1A");
  EXPECT_EQ(Text(Item(IDC_RANGE_LABEL)), L"Range(%)\xFF1A");
  for (int id : {IDC_RB_TIME, IDC_RB_OK, IDC_SELECTOR}) EXPECT_FALSE(IsWindowVisible(Item(id)));
  EXPECT_FALSE(Enabled(IDC_SELECTOR));
  KeepScreenshot(CaptureWindow(dialog_), "calibration-dialog");

  // OK with a bad time: the message, the field focused, nothing sent.
  SendMessageW(Item(IDC_RB_TIME), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"499"));
  Click(IDC_RB_OK);
  Box box = WaitForMessageBox();
  EXPECT_EQ(box.caption, L"Vantrel");
  EXPECT_EQ(box.text, L"Please input a number from500to10000.");
  CloseMessageBox(box);
  // OK with good values: the bytes, then the frame's acceptance.
  SendMessageW(Item(IDC_RB_TIME), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L" 700ms"));
  SendMessageW(Item(IDC_RB_RANGE), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"5"));
  Click(IDC_RB_OK);
  EXPECT_TRUE(SeesCommand("02bc02000005", 2));
  EXPECT_TRUE(Eventually([&] { return Text(Item(IDC_RB_TIME)) == L"700"; }));
  EXPECT_EQ(Commands({2}).size(), 1u);  // the refused OK sent nothing
  // The switches: the right-button box ticked, the second one clear.
  ASSERT_TRUE(Eventually([&] { return Enabled(IDC_RIGHT_BUTTON); }));
  Click(IDC_RIGHT_BUTTON);
  EXPECT_TRUE(SeesCommand("0401", 4));
  // Reset: cancel, then the settings again.
  ASSERT_TRUE(Eventually([&] { return Enabled(IDC_CALIBRATION); }));
  sim_.last("record clear");
  Click(IDC_RESET);
  ASSERT_TRUE(Eventually([&] { return Commands({3, 0x10}).size() == 2; }));
  EXPECT_EQ(Commands({3, 0x10}), (std::vector<std::string>{"10", "03"}));
  ASSERT_TRUE(Eventually([&] { return Enabled(IDC_CALIBRATION); }));

  // The calibration: the frame names 1, 4, 3, 2.
  sim_.last("record clear");
  Click(IDC_CALIBRATION);
  HWND target = nullptr;
  ASSERT_TRUE(Eventually([&] { return (target = TargetWindow()) && IsWindowVisible(target); }));
  EXPECT_EQ(Text(GetDlgItem(target, IDC_TARGET_TEXT)), kTargetText);
  POINT origin{0, 0};
  ClientToScreen(target, &origin);
  // A target with its ring on the screen.
  TargetPixels pixels;
  Image screen;
  const bool seen = Eventually(
      [&] {
        screen = CaptureScreen();
        pixels = CheckTargetPixels(screen, origin);
        return (pixels.target && pixels.ringRadius > 0) ||
               (!pixels.fault.empty() && pixels.fault != "no complete cross");
      },
      10000);
  KeepScreenshot(screen, "calibration-target");
  EXPECT_TRUE(seen);
  EXPECT_EQ(pixels.fault, "");
  EXPECT_GT(pixels.ringRadius, 0);

  box = WaitForMessageBox();
  EXPECT_EQ(box.text, L"Calibration successful.");
  EXPECT_FALSE(IsWindowVisible(target));
  CloseMessageBox(box);
  EXPECT_EQ(Commands({1}),
            (std::vector<std::string>{"01", "0101000200000002", "010400020000000e",
                                      "0103000e0000000e", "0102000e00000002", "0105"}));
  ASSERT_TRUE(Eventually([&] { return Enabled(IDC_CALIBRATION); }));

  // Closing: the frame leaves calibration, and its new block is read back.
  Click(IDC_EXIT);
  EXPECT_TRUE(SeesCommand("01ff", 1));
  EXPECT_TRUE(Eventually([&] { return !Commands({5}).empty(); }));
  // The read-back is handled when the mouse mode follows it.
  EXPECT_TRUE(SeesCommand("060101", 6));
  CalibrationData cal;
  {
    std::string state = sim_.last("state calgui-a");
    std::istringstream words(state.substr(state.find("cal=") + 4));
    std::uint8_t block[24];
    for (int i = 0; i < 12; ++i) {
      int v = 0;
      char comma;
      words >> v;
      if (i < 11) words >> comma;
      block[2 * i] = static_cast<std::uint8_t>(v),
                block[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    StoreCalibrationBlock(block, cal);
    cal.ComputeCalibration();
  }
  cal.inX = static_cast<std::int16_t>(std::lround(0.3 * 4095));
  cal.inY = static_cast<std::int16_t>(std::lround(0.6 * 4095));
  ASSERT_TRUE(cal.MapPoint());
  tuio_.Drain();
  sim_.last("touch calgui-a 0:down:0.3,0.6");
  float x, y;
  ASSERT_TRUE(tuio_.NextSet(x, y));
  EXPECT_FLOAT_EQ(x, cal.outX / 4096.0f);
  EXPECT_FLOAT_EQ(y, cal.outY / 4096.0f);
  sim_.last("touch calgui-a 0:up:0.3,0.6");
}

TEST_F(CalibrationGui, SplitChannelFrameVerdictTooLargeAndReset) {
  AddFrame("split-2pt", "calgui-s", "verdict=1 order=2143 target-delay=50");
  StartHost();
  OpenDialog();
  ASSERT_TRUE(Eventually([&] { return Enabled(IDC_CALIBRATION); }));
  Click(IDC_RESET);
  EXPECT_TRUE(SeesCommand("0106", 1));
  sim_.last("record clear");
  Click(IDC_CALIBRATION);
  Box box = WaitForMessageBox();
  EXPECT_EQ(box.text, L"Calibration error is too large.We recommend calibrate it again.");
  // The reader never waits for the message: touches keep flowing.
  tuio_.Drain();
  sim_.last("tap calgui-s 0.5,0.5");
  float x, y;
  EXPECT_TRUE(tuio_.NextSet(x, y));
  EXPECT_TRUE(IsWindowVisible(box.hwnd));
  CloseMessageBox(box);
  EXPECT_EQ(Commands({1}),
            (std::vector<std::string>{"01", "0102000e00000002", "0101000200000002",
                                      "010400020000000e", "0103000e0000000e", "0105"}));
  Click(IDC_EXIT);
  ASSERT_TRUE(Eventually([&] { return !IsWindow(dialog_); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Commands({1, 5}).size(), 6u);  // no 255, no read-back
}

TEST_F(CalibrationGui, EndedWithoutResultThenEscape) {
  AddFrame("single-b", "calgui-n", "verdict=none target-delay=50");
  StartHost();
  OpenDialog();
  ASSERT_TRUE(Eventually([&] { return Enabled(IDC_CALIBRATION); }));
  Click(IDC_CALIBRATION);
  ASSERT_TRUE(SeesCommand("0105", 1));
  // Sub-code 16: the controls come back, the target window stays.
  ASSERT_TRUE(Eventually([&] { return Enabled(IDC_CALIBRATION); }));
  HWND target = nullptr;
  ASSERT_TRUE(Eventually([&] { return (target = TargetWindow()) != nullptr; }));
  EXPECT_TRUE(IsWindowVisible(target));
  EXPECT_EQ(FindMessageBox(process_.dwProcessId).hwnd, nullptr);
  // Alt+F4 does nothing; Escape hides it and cancels.
  PostMessageW(target, WM_SYSCOMMAND, SC_CLOSE, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(IsWindowVisible(target));
  PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_TRUE(SeesCommand("10", 0x10));
  EXPECT_TRUE(Eventually([&] { return !IsWindowVisible(target); }));
}

}  // namespace
