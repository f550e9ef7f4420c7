// The calibration dialog in this process, where a sender sees the answers
// of its dialog procedure (Wine does not carry icon answers across
// processes).
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

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

// WM_QUERYDRAGICON is answered by the procedure's own result: routed
// through DWLP_MSGRESULT the sender got TRUE instead of the icon.
TEST(CalibrationDialogWindow, AnswersTheDragIconQueryWithItsIcon) {
  AbsentFrame frame;
  CCalibrationAppDlg dialog(frame, "Vantrel");
  HWND hwnd = nullptr;
  LRESULT drag = 1, icon = 0;
  std::thread user([&] {
    for (int i = 0; i < 1000 && !(hwnd = dialog.Hwnd()); ++i) Sleep(10);
    drag = SendMessageW(hwnd, WM_QUERYDRAGICON, 0, 0);
    icon = SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0);
    PostMessageW(hwnd, WM_COMMAND, IDC_EXIT, 0);
  });
  dialog.DoModal(nullptr);
  user.join();
  ASSERT_NE(hwnd, nullptr);
  EXPECT_NE(icon, 0);
  EXPECT_EQ(drag, icon);
}

}  // namespace
