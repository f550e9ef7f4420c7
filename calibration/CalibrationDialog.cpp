#include "calibration/CalibrationDialog.h"

#include "input/DeviceCommands.h"
#include "calibration/CalibrationIds.h"
#include "calibration/TargetGeometry.h"
#include "calibration/ValidateNumber.h"

const char kCalibrationSuccessful[] = "Calibration successful.";
const char kCalibrationErrorTooLarge[] =
    "Calibration error is too large.We recommend calibrate it again.";
const char kDisplaySettingsFailed[] = "Get current display settings fail.";

namespace {
std::int32_t Int32At(const std::uint8_t* r) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(r[0]) | r[1] << 8 | r[2] << 16 |
                                   static_cast<std::uint32_t>(r[3]) << 24);
}
}  // namespace

bool TakeDisplayFailureReport(TargetState& target) {
  if (target.displayFailureShown) return false;
  target.displayFailureShown = true;
  return true;
}

void CalibrationDialog::SetUp() {
  view_.SetControlText(IDC_RB_TIME, "2000");
  view_.SetControlText(IDC_RB_RANGE, "2");
  // Without a frame the Calibration button keeps its disabled state.
  if (!frame_.IsOpen()) return;
  SetBusy(false);
  RequestRbSettings();
}

void CalibrationDialog::SetBusy(bool busy) {
  // "About", "Exit" and "Reset" stay usable; 305 and 307 are never enabled.
  view_.EnableControl(IDC_SELECTOR, false);
  for (int id : {IDC_CALIBRATION, IDC_RB_TIME, IDC_RB_OK, IDC_RIGHT_BUTTON})
    view_.EnableControl(id, !busy);
  view_.EnableControl(IDC_SECOND_SWITCH, false);
  for (int id : {IDC_SMALL_TEXT, IDC_UNUSED_EDIT, IDC_TIME_LABEL, IDC_RANGE_LABEL, IDC_RB_RANGE})
    view_.EnableControl(id, !busy);
}

void CalibrationDialog::RequestRbSettings() {
  if (frame_.IsSplitChannel()) return;
  SetBusy(true);
  std::uint8_t cmd[kCommandSize];
  FillGetRbParams(cmd);
  Send(cmd);
}

void CalibrationDialog::StartCalibration() {
  target_.calibrationRunning = 1;
  target_.displayFailureShown = false;
  view_.ShowTargetWindow();
  target_.targetIndex = 0;
  SetBusy(true);
  std::uint8_t cmd[kCommandSize];
  FillCalibration(cmd, CAL_START);
  Send(cmd);
}

void CalibrationDialog::HandleCalibrationReply(const std::uint8_t* r) {
  if (r[0] != frame_.InputReportId()) return;
  std::uint8_t cmd[kCommandSize];
  switch (r[1]) {
    case 1: {
      if (target_.calibrationRunning != 1) return;
      const std::uint8_t sub = r[2];
      std::uint8_t x, y;
      if (TargetSixteenths(sub, x, y)) {
        target_.targetIndex = sub;
        FillCalibration(cmd, sub, x, y);
        Send(cmd);
      } else if (sub == CAL_REPLY_ALL_DONE) {
        target_.targetIndex = 0;
        FillCalibration(cmd, CAL_ALL_DONE);
        Send(cmd);
      } else if (sub == CAL_REPLY_NO_RESULT) {
        // The target window stays up; Escape takes it down.
        target_.calibrationRunning = 0;
        SetBusy(false);
      } else if (sub == CAL_REPLY_FINISHED) {
        target_.calibrationRunning = 0;
        view_.HideTargetWindow();
        view_.ShowMessage(r[3] != 0 ? kCalibrationErrorTooLarge : kCalibrationSuccessful,
                          MessageIcon::kInformation);
        frame_.SetCalibrationValid();
        SetBusy(false);
      }
      return;
    }
    case 2:
    case 4:
      SetBusy(false);
      return;
    case 3:
      SetBusy(false);
      view_.SetControlText(IDC_RB_TIME, std::to_string(Int32At(r + 2)));
      view_.SetControlText(IDC_RB_RANGE, std::to_string(r[6]));
      view_.SetChecked(IDC_RIGHT_BUTTON, r[8] != 0);
      view_.SetChecked(IDC_SECOND_SWITCH, r[9] != 0);
      SetBusy(false);
      return;
    default:
      return;
  }
}

bool CalibrationDialog::ValidateNumber(int control, std::int32_t minimum, std::int32_t maximum,
                                       std::int32_t& value) {
  const NumberCheck check = CheckNumber(view_.ControlText(control), minimum, maximum);
  if (check.result == NumberCheck::kValid) {
    view_.SetControlText(control, std::to_string(check.value));
    value = check.value;
    return true;
  }
  view_.ShowMessage(check.message, MessageIcon::kExclamation);
  view_.FocusAndSelectAll(control);
  return false;
}

void CalibrationDialog::ApplyRbParameters() {
  std::int32_t time = 0, range = 0;
  if (!ValidateNumber(IDC_RB_TIME, 500, 10000, time)) return;
  if (!ValidateNumber(IDC_RB_RANGE, 1, 50, range)) return;
  SetBusy(true);
  std::uint8_t cmd[kCommandSize];
  FillSetRbParams(cmd, time, static_cast<std::uint8_t>(range));
  Send(cmd);
}

void CalibrationDialog::ApplyRbSwitches() {
  SetBusy(true);
  const bool rightButton = view_.IsChecked(IDC_RIGHT_BUTTON);
  const bool second = view_.IsChecked(IDC_SECOND_SWITCH);
  std::uint8_t cmd[kCommandSize];
  FillSetRbSwitches(cmd, rightButton, second);
  Send(cmd);
}

void CalibrationDialog::Reset() {
  std::uint8_t cmd[kCommandSize];
  if (frame_.IsSplitChannel()) {
    FillCalibration(cmd, CAL_RESET);
    Send(cmd);
    return;
  }
  FillCancel(cmd);
  Send(cmd);
  SetBusy(true);
  FillGetRbParams(cmd);
  Send(cmd);
}

void CalibrationDialog::Cancel() {
  if (!frame_.IsSplitChannel()) {
    std::uint8_t cmd[kCommandSize];
    FillCalibration(cmd, CAL_LEAVE);
    Send(cmd);
  }
  view_.EndDialog();
}

void CalibrationDialog::TargetEscape() {
  std::uint8_t cmd[kCommandSize];
  FillCancel(cmd);
  Send(cmd);
}

void CalibrationDialog::TargetCancelled() {
  target_.targetIndex = 0;
  target_.calibrationRunning = 0;
  view_.HideTargetWindow();
  SetBusy(false);
}
