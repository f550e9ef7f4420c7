#pragma once
// The calibration dialog's behaviour, without a window: the conversation
// with the frame, the right-button settings and the busy state. The Win32
// view (calibration/win32) renders it; tests drive it with a recording view.
// Everything here runs on the window thread.
#include <cstdint>
#include <string>

// The target window's fields, owned by the target window.
struct TargetState {
  std::int32_t targetIndex = 0;  // 0: no target; 1 to 4: the target shown
  std::int32_t ringRadius = 0;
  std::int32_t calibrationRunning = 0;
  // The display-mode message is shown once per calibration, not per paint.
  bool displayFailureShown = false;
};

// A failed display-mode query is reported once per calibration: true the
// first time, false until the next calibration starts.
bool TakeDisplayFailureReport(TargetState& target);

enum class MessageIcon { kInformation, kExclamation };

class CalibrationDialogView {
 public:
  virtual ~CalibrationDialogView() = default;
  virtual void EnableControl(int id, bool enabled) = 0;
  virtual std::string ControlText(int id) = 0;
  virtual void SetControlText(int id, const std::string& text) = 0;
  virtual bool IsChecked(int id) = 0;
  virtual void SetChecked(int id, bool checked) = 0;
  // Modal over the dialog, the application's title as caption, an OK button.
  virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
  // Keyboard focus on the control, its whole text selected and in view.
  virtual void FocusAndSelectAll(int id) = 0;
  virtual void ShowTargetWindow() = 0;  // normally, then maximized
  virtual void HideTargetWindow() = 0;
  virtual void EndDialog() = 0;  // with the cancel result
};

// What the dialog needs of the frame and the main window.
class CalibrationFrame {
 public:
  virtual ~CalibrationFrame() = default;
  virtual bool IsOpen() const = 0;
  virtual bool IsSplitChannel() const = 0;
  virtual std::uint8_t InputReportId() const = 0;
  // A 64-byte command through the shared command buffer, then its pause.
  virtual void Send(const std::uint8_t* command) = 0;
  // The host-side transform on (the main window's calibration-valid flag).
  virtual void SetCalibrationValid() = 0;
};

extern const char kCalibrationSuccessful[];  // verdict 0
extern const char kCalibrationErrorTooLarge[];
extern const char kDisplaySettingsFailed[];

class CalibrationDialog {
 public:
  CalibrationDialog(CalibrationDialogView& view, CalibrationFrame& frame, TargetState& target)
      : view_(view), frame_(frame), target_(target) {}

  // The first show, once the target window exists (hidden).
  void SetUp();
  void SetBusy(bool busy);
  void RequestRbSettings();
  void StartCalibration();
  // A reply report of the frame, 64 bytes.
  void HandleCalibrationReply(const std::uint8_t* report);
  void ApplyRbParameters();  // "OK"
  void ApplyRbSwitches();    // check box 302 or 305 clicked
  void Reset();
  void Cancel();  // "Exit", Escape, the close box

  // The target window: Escape sends CMD_CANCEL before the window cancels.
  void TargetEscape();
  void TargetCancelled();

 private:
  bool ValidateNumber(int control, std::int32_t minimum, std::int32_t maximum, std::int32_t& value);
  void Send(const std::uint8_t* command) { frame_.Send(command); }

  CalibrationDialogView& view_;
  CalibrationFrame& frame_;
  TargetState& target_;
};
