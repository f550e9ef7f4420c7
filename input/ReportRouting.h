#pragma once
// Where a completed 64-byte read goes, decided from its first bytes, the
// frame's profile and the main window's flags; and what a calibration
// read-back or a Series01xx mode report fills.
#include <cstdint>

#include "input/CalibrationTransform.h"
#include "input/DeviceCommands.h"
#include "input/DeviceProfile.h"

enum class ReportAction : std::uint8_t {
  kIgnore,
  kDecode,            // DecodeTouchReport
  kCalibrationReply,  // the calibration dialog's HandleCalibrationReply
  kReadBack,          // reply to CMD_READ_CALIBRATION
  kEnableButtons,     // a split-channel frame answered: calibration and mouse buttons on
  kSeriesMode,        // Series01xx mode report (0xFD 0x0C)
};

struct ReaderFlags {
  bool initialised = false;
  bool calibrating = false;
  bool awaitingReadBack = false;
};

// "col03" of a split-channel frame: calibration traffic and command replies.
ReportAction RouteReplyReport(const std::uint8_t* report, const ReaderFlags& flags);
// "col04" of a split-channel frame: touch reports.
ReportAction RouteTouchReport(const std::uint8_t* report, const DeviceProfile& profile,
                              const ReaderFlags& flags);
// The one collection of a single-channel frame: everything. (A 0xFD report
// and one with the input report id never coincide: that id is 0x02, 0xFC or,
// for a Series01xx frame seen first, 0.)
ReportAction RouteSingleReport(const std::uint8_t* report, const DeviceProfile& profile,
                               const ReaderFlags& flags);

// 0xFD 0x0C: m0..m2 from bytes 2..4, and from version 0x0201 on m3..m5 from
// bytes 5..7.
void ParseSeriesMode(const std::uint8_t* report, std::uint16_t versionNumber, SeriesMode& mode);

// Byte 1 = 5: returns the valid byte (byte 2); when it is non-zero, stores
// the twelve words of bytes 3..26 and derives the transform.
std::uint8_t ApplyReadBack(const std::uint8_t* report, CalibrationData& calibration);
