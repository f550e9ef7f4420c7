#pragma once
// The bytes of the commands the service sends to the frame. One 64-byte
// output report: byte 0 the report id, byte 1 the code. The buffer keeps its
// contents between commands; only the commands that clear it start from
// zeros.
#include <cstdint>

#include "input/DeviceProfile.h"

constexpr int kCommandSize = 64;

enum : std::uint8_t {
  CMD_READ_CALIBRATION = 0x05,
  CMD_MOUSE_MODE = 0x06,
  CMD_SERIES_MODE = 0x08,
  CMD_SERIES_QUERY = 0x0C,
  CMD_TOUCH_OUTPUT = 0x30,
};

// Byte 3 of CMD_MOUSE_MODE: why the mode is sent.
enum : std::uint8_t {
  MOUSE_MODE_BY_USER = 0,
  MOUSE_MODE_AFTER_READ_BACK = 1,
  MOUSE_MODE_AT_EXIT = 2,
};

// Mode bytes m0..m5 of a Series01xx frame, as its mode report gave them.
struct SeriesMode {
  std::uint8_t m[6] = {};
};

// The five bytes of a CMD_SERIES_MODE (bytes 2..6), by what they do.
struct SeriesModeBytes {
  std::uint8_t b[5];
};
// Start-up: m0, 1, 3, 0, 0 (before the frame is asked for its modes).
SeriesModeBytes SeriesInitMode(const SeriesMode& m);
// Mouse emulation on: m0, m1, m2, 1, m4.
SeriesModeBytes SeriesMouseOnMode(const SeriesMode& m);
// Mouse emulation off: m0, 3, 0, 1, 0.
SeriesModeBytes SeriesMouseOffMode(const SeriesMode& m);
// The modes as reported: m0..m4 (sent at exit).
SeriesModeBytes SeriesStoredMode(const SeriesMode& m);

// 0xFE for Series01xx frames, otherwise the input report id.
std::uint8_t CommandReportId(const DeviceProfile& profile);

// Each fills bytes 1.. of buf (byte 0 is set when sending).
void FillReadCalibration(std::uint8_t* buf);                          // not cleared
void FillMouseMode(std::uint8_t* buf, bool on, std::uint8_t reason);  // cleared
void FillSeriesMode(std::uint8_t* buf, const std::uint8_t b[5]);      // not cleared
void FillSeriesQuery(std::uint8_t* buf);                              // cleared
void FillTouchOutput(std::uint8_t* buf, bool on);                     // cleared
