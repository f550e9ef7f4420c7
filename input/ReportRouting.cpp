#include "input/ReportRouting.h"

ReportAction RouteReplyReport(const std::uint8_t* r, const ReaderFlags& flags) {
  if (r[0] != 0xFC) return ReportAction::Ignore;
  if (flags.calibrating) return ReportAction::CalibrationReply;
  if (flags.awaitingReadBack) return r[1] == 5 ? ReportAction::ReadBack : ReportAction::Ignore;
  return ReportAction::EnableButtons;
}

ReportAction RouteTouchReport(const std::uint8_t* r, const DeviceProfile& profile,
                              const ReaderFlags& flags) {
  if (r[0] != 0xFB) return ReportAction::Ignore;
  const bool anyByte1 = IsMultiTouch(profile.VersionNumber) && !profile.Series01xx;
  if (!anyByte1 && r[1] != 0xC1) return ReportAction::Ignore;
  // Touches are decoded whether or not calibration runs.
  return flags.initialised ? ReportAction::Decode : ReportAction::Ignore;
}

ReportAction RouteSingleReport(const std::uint8_t* r, const DeviceProfile& profile,
                               const ReaderFlags& flags) {
  if (r[0] == 0xFD) {
    if (r[1] == 0x0C) return ReportAction::SeriesMode;
    return flags.initialised ? ReportAction::Decode : ReportAction::Ignore;
  }
  if (r[0] != profile.InputReportID) return ReportAction::Ignore;
  if (flags.calibrating) return ReportAction::CalibrationReply;
  if (flags.awaitingReadBack) return r[1] == 5 ? ReportAction::ReadBack : ReportAction::Ignore;
  return flags.initialised ? ReportAction::Decode : ReportAction::Ignore;
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
