// The calibration dialog in this process, where a sender sees the answers
// of its dialog procedure (Wine does not carry icon answers across
// processes).
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "calibration/CalibrationIds.h"
#include "calibration/win32/CalibrationWindows.h"

namespace {

struct AbsentFrame final : CalibrationFrame {
  bool IsOpen() const override { return false; }
  bool IsSplitChannel() const override { return true; }
  std::uint8_t InputReportId() const override { return 0; }
  void Send(const std::uint8_t*) override {}
  void SetCalibrationValid() override {}
};

// The target window's ring timer ticks as they arrive (a subclass here).
WNDPROC targetProcedure = nullptr;
std::vector<DWORD> ringTicks;
std::atomic<int> ringTickCount{0};  // for the other thread's wait
LRESULT CALLBACK CountRingTicks(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER && wParam == 1) {
    ringTicks.push_back(GetTickCount());
    ++ringTickCount;
  }
  return CallWindowProcW(targetProcedure, hwnd, message, wParam, lParam);
}

BOOL CALLBACK FindTarget(HWND hwnd, LPARAM found) {
  if (GetDlgItem(hwnd, IDC_TARGET_TEXT)) *reinterpret_cast<HWND*>(found) = hwnd;
  return TRUE;
}

// WM_QUERYDRAGICON is answered by the procedure's own result: routed
// through DWLP_MSGRESULT the sender got TRUE instead of the icon. The system
// menu ends with a separator and the about item (command 0x10). Once a
// calibration shows the target window, its ring moves every 150 ms.
TEST(CalibrationDialogWindow, DragIconSystemMenuAndTheRingTimer) {
  AbsentFrame frame;
  CCalibrationAppDlg dialog(frame, "Vantrel");
  HWND hwnd = nullptr, target = nullptr;
  LRESULT drag = 1, icon = 0;
  wchar_t aboutItem[64] = {};
  UINT aboutId = 0;
  bool afterSeparator = false;
  std::thread user([&] {
    for (int i = 0; i < 1000 && !(hwnd = dialog.Hwnd()); ++i) Sleep(10);
    drag = SendMessageW(hwnd, WM_QUERYDRAGICON, 0, 0);
    icon = SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0);
    HMENU system = GetSystemMenu(hwnd, FALSE);
    const int last = GetMenuItemCount(system) - 1;
    GetMenuStringW(system, last, aboutItem, 64, MF_BYPOSITION);
    aboutId = GetMenuItemID(system, last);
    afterSeparator = (GetMenuState(system, last - 1, MF_BYPOSITION) & MF_SEPARATOR) != 0;
    EnumThreadWindows(GetWindowThreadProcessId(hwnd, nullptr), FindTarget,
                      reinterpret_cast<LPARAM>(&target));
    if (target) {
      targetProcedure = reinterpret_cast<WNDPROC>(
          SetWindowLongPtrW(target, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountRingTicks)));
      SendMessageW(hwnd, WM_COMMAND, IDC_CALIBRATION, 0);
      for (int i = 0; i < 3000 && ringTickCount < 8; ++i) Sleep(10);
    }
    PostMessageW(hwnd, WM_COMMAND, IDC_EXIT, 0);
  });
  dialog.DoModal(nullptr);
  user.join();
  ASSERT_NE(hwnd, nullptr);
  EXPECT_NE(icon, 0);
  EXPECT_EQ(drag, icon);
  EXPECT_STREQ(aboutItem, L"About Vantrel(&A)...");
  EXPECT_EQ(aboutId, 0x10u);
  EXPECT_TRUE(afterSeparator);
  ASSERT_NE(target, nullptr);
  ASSERT_GE(ringTicks.size(), 6u);
  const DWORD mean = (ringTicks.back() - ringTicks.front()) / DWORD(ringTicks.size() - 1);
  EXPECT_GE(mean, 130u);
  EXPECT_LE(mean, 200u);
}

}  // namespace
