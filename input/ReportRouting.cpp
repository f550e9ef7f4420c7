#include "input/ReportRouting.h"

ReportAction RouteReplyReport(const std::uint8_t* r, const ReaderFlags& flags) {
  if (r[0] != 0xFC) return ReportAction::kIgnore;
  if (flags.calibrating) return ReportAction::kCalibrationReply;
  if (flags.awaitingReadBack) return r[1] == 5 ? ReportAction::kReadBack : ReportAction::kIgnore;
  return ReportAction::kEnableButtons;
}

ReportAction RouteTouchReport(const std::uint8_t* r, const DeviceProfile& profile,
                              const ReaderFlags& flags) {
  if (r[0] != 0xFB) return ReportAction::kIgnore;
  const bool anyByte1 = IsMultiTouch(profile.VersionNumber) && !profile.Series01xx;
  if (!anyByte1 && r[1] != 0xC1) return ReportAction::kIgnore;
  // Touches are decoded whether or not calibration runs.
  return flags.initialised ? ReportAction::kDecode : ReportAction::kIgnore;
}

ReportAction RouteSingleReport(const std::uint8_t* r, const DeviceProfile& profile,
                               const ReaderFlags& flags) {
  if (r[0] == 0xFD) {
    if (r[1] == 0x0C) return ReportAction::kSeriesMode;
    return flags.initialised ? ReportAction::kDecode : ReportAction::kIgnore;
  }
  if (r[0] != profile.InputReportID) return ReportAction::kIgnore;
  if (flags.calibrating) return ReportAction::kCalibrationReply;
  if (flags.awaitingReadBack) return r[1] == 5 ? ReportAction::kReadBack : ReportAction::kIgnore;
  return flags.initialised ? ReportAction::kDecode : ReportAction::kIgnore;
}

void ParseSeriesMode(const std::uint8_t* r, std::uint16_t versionNumber, SeriesMode& mode) {
  mode.m[0] = r[2];
  mode.m[1] = r[3];
  mode.m[2] = r[4];
  if (frame::HasFullSeriesMode(versionNumber)) {
    mode.m[3] = r[5];
    mode.m[4] = r[6];
    mode.m[5] = r[7];
  }
}

std::uint8_t ApplyReadBack(const std::uint8_t* r, CalibrationData& calibration) {
  const std::uint8_t valid = r[2];
  if (valid != 0) {
    StoreCalibrationBlock(r + 3, calibration);
    calibration.ComputeCalibration();
  }
  return valid;
}
