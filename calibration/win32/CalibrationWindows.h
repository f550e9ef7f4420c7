#pragma once
// The calibration dialog (CCalibrationAppDlg, template 300) and its target
// window (CRefDlg, template 201): Win32 views over CalibrationDialog. Both
// run on the window thread; the frame's replies reach them through
// their reply queue, from any thread.
#include <windows.h>

#include <functional>
#include <string>

#include "calibration/CalibrationDialog.h"
#include "calibration/CalibrationReplyQueue.h"
#include "calibration/TargetGeometry.h"
#include "platform/win32/DialogBase.h"

class CCalibrationAppDlg;

// The full-screen target window: a red cross at the target the frame named
// and a shrinking ring around it, redrawn on a 150 ms timer.
class CRefDlg final : public platform::DialogBase {
 public:
  explicit CRefDlg(CCalibrationAppDlg& owner) : DialogBase(Charset::kWide), owner_(owner) {}
  ~CRefDlg() override;

  // Modeless from template 201, owned by `ownerWindow`, hidden.
  bool Create(HWND ownerWindow);
  TargetState& State() { return state_; }
  // Escape sends CMD_CANCEL before dialog processing turns it into cancel.
  void PreTranslateMessage(const MSG& msg);

 private:
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  // Where the current target lies on a `width` x `height` display; an index
  // without a position ends the target (index 0).
  bool CurrentTarget(int width, int height, TargetPoint& at);
  void DrawTarget();
  void DrawCross(int x, int y, int width, int height);
  void RingStep();
  // Pixel size of the primary display's current mode.
  static bool DisplaySize(int& width, int& height);

  CCalibrationAppDlg& owner_;
  HPEN pen_ = nullptr;
  TargetState state_;
};

class CCalibrationAppDlg final : public CalibrationDialogView, public platform::DialogBase {
 public:
  // `title`: the application's title, the caption of every message box.
  CCalibrationAppDlg(CalibrationFrame& frame, std::string title);
  ~CCalibrationAppDlg() override;

  // Shows the dialog modally over `owner` (disabled meanwhile); returns the
  // result (IDCANCEL from "Exit", Escape and the close box).
  INT_PTR DoModal(HWND owner);
  // Where the readers post copies of the frame's replies (any thread); they
  // are handled on the window thread in arrival order, and dropped while the
  // dialog is not up.
  CalibrationReplyQueue& Replies() { return replies_; }
  // The about box (the main window's); without one the item does nothing.
  void SetAboutBox(std::function<void(HWND owner)> show) { showAbout_ = std::move(show); }

  CalibrationDialog& Model() { return model_; }

  // CalibrationDialogView
  void EnableControl(int id, bool enabled) override;
  std::string ControlText(int id) override;
  void SetControlText(int id, const std::string& text) override;
  bool IsChecked(int id) override;
  void SetChecked(int id, bool checked) override;
  void ShowMessage(const std::string& text, MessageIcon icon) override;
  void FocusAndSelectAll(int id) override;
  void ShowTargetWindow() override;
  void HideTargetWindow() override;
  void EndDialog() override;

  // For the target window's messages (same thread).
  void ShowMessageBox(HWND owner, const std::string& text, UINT icon);

 private:
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnInitDialog();
  void OnCommand(int id, int notification);
  void HandleQueuedReplies();
  void ShowAbout();

  std::string title_;
  HICON icon_ = nullptr;
  CRefDlg target_;
  CalibrationDialog model_;
  CalibrationReplyQueue replies_;
  std::function<void(HWND)> showAbout_;
  bool shown_ = false;
  bool ended_ = false;
  bool draining_ = false;
  INT_PTR result_ = IDCANCEL;
};
