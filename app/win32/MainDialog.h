#pragma once
// CMorvikVantrelDlg: the program's only top-level window (dialog 102),
// normally hidden behind its tray icon. It is the window the pipeline
// calls; what the pipeline asks of it from other threads
// (buttons, layout) is posted to the window's thread, so a reader never
// waits for the user interface.
#include <windows.h>

#include <functional>
#include <string>

#include "app/MainWindowRules.h"
#include "app/ServiceApp.h"
#include "calibration/CalibrationReplyQueue.h"
#include "input/PipelineState.h"
#include "platform/win32/DialogBase.h"

struct MainDialogOptions {
  std::string readyFile;  // written once the first-show start-up is complete
  long long runMs = -1;   // end through the shut-down after this long
};

class CMorvikVantrelDlg final : public PipelineWindow, public platform::DialogBase {
 public:
  // Runs the calibration dialog modally over `owner` (the calibration
  // views plug in here).
  using CalibrationRunner = std::function<void(HWND owner, CMorvikVantrelDlg& dialog)>;

  CMorvikVantrelDlg(platform::HidBackend& hid, DriverApiPort& driver,
                    ServiceApp::Options serviceOptions, MainDialogOptions options);
  ~CMorvikVantrelDlg() override;

  // Creates the dialog, shows it once (the start-up; it stays hidden), runs
  // its message loop until Cancel or the quit message, destroys it (the
  // shut-down). Returns the reason it ended (IDCANCEL or 0 for a quit).
  int DoModal();

  void SetCalibrationRunner(CalibrationRunner runner) { calibrationRunner_ = std::move(runner); }
  ServiceApp& App() { return app_; }
  // The about box (dialog 100), modal over `owner`; the calibration dialog's
  // about item shows it too.
  static void ShowAboutBox(HWND owner);

  // PipelineWindow, from any thread.
  void EnableCalibrationButton(bool on) override;
  void EnableMouseButton(bool on) override;
  void LayoutForDevice() override;
  // A reader posts a copy to the calibration dialog's queue and returns.
  void HandleCalibrationReply(const std::uint8_t* report) override {
    if (CalibrationReplyQueue* queue = calibrationReplyQueue.load()) queue->Post(report);
  }

  // The calibration dialog's queue, set by the program while the dialog
  // exists.
  std::atomic<CalibrationReplyQueue*> calibrationReplyQueue{nullptr};

 private:
  INT_PTR HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  BOOL OnInitDialog();
  void OnFirstShow();
  void OnCommand(int id, int code);
  bool OnSysCommand(WPARAM command);
  LRESULT OnTrayCallback(WPARAM iconId, LPARAM mouseMessage);
  bool PreTranslateMessage(const MSG& msg);
  void ShowMainWindow();
  void ShowAbout();
  void OnCalibration();
  void OnMouseToggle();
  void ApplyLayout();
  // NIM_ADD or NIM_DELETE; an add also counts when the icon is there already.
  bool TrayIcon(bool add);
  // A round of adds (start-up, the shell's "TaskbarCreated"), then one add
  // per retry timer tick while the keeper says so.
  void BeginTrayIcon();
  void TryTrayIcon();
  void PostToWindow(UINT msg, WPARAM wp, LPARAM lp);
  void RunShutDown();
  void End(int reason);

  ServiceApp app_;
  const std::string settingsPath_;
  const MainDialogOptions options_;
  const UINT quitMessage_;
  const UINT taskbarCreated_;
  TrayIconKeeper trayKeeper_;
  HICON icon_ = nullptr;
  HICON smallIcon_ = nullptr;
  bool ending_ = false;
  int endReason_ = 0;
  bool shutDownDone_ = false;
  // Shown by the user (tray icon, menu); a show the dialog manager asks for
  // otherwise is refused, so the window starts hidden behind its icon.
  bool visible_ = false;
  std::uint16_t touchDeviceCount_ = 0;
  CalibrationRunner calibrationRunner_;
};
