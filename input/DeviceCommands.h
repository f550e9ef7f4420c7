#pragma once
// The bytes of the commands the service sends to the frame. One 64-byte
// output report: byte 0 the report id, byte 1 the code. The buffer keeps its
// contents between commands; only the commands that clear it start from
// zeros.
#include <cstdint>

#include "input/DeviceProfile.h"

constexpr int kCommandSize = 64;

// Byte 1 of every command, the calibration conversation's included.
enum : std::uint8_t {
  CMD_CALIBRATION = 0x01,
  CMD_SET_RB_PARAMS = 0x02,
  CMD_GET_RB_PARAMS = 0x03,
  CMD_SET_RB_SWITCHES = 0x04,
  CMD_READ_CALIBRATION = 0x05,
  CMD_MOUSE_MODE = 0x06,
  CMD_SERIES_MODE = 0x08,
  CMD_SERIES_QUERY = 0x0C,
  CMD_CANCEL = 0x10,
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

// Byte 2 of CMD_CALIBRATION as the host sends it (1 to 4 acknowledge a target).
enum : std::uint8_t {
  CAL_START = 0,
  CAL_ALL_DONE = 5,
  CAL_RESET = 6,    // split-channel frames: back to the factory calibration
  CAL_LEAVE = 255,  // single-channel frames: the dialog closes
};

// Byte 2 of a type-1 reply as the frame sends it (1 to 4 name a target).
enum : std::uint8_t {
  CAL_REPLY_ALL_DONE = 5,
  CAL_REPLY_NO_RESULT = 16,
  CAL_REPLY_FINISHED = 255,
};

// The calibration conversation's commands; each fills a whole report from
// zeros.
void FillCalibration(std::uint8_t* buf, std::uint8_t subCode, std::uint8_t x = 0,
                     std::uint8_t y = 0);
void FillSetRbParams(std::uint8_t* buf, std::int32_t timeMs, std::uint8_t range);
void FillGetRbParams(std::uint8_t* buf);
void FillSetRbSwitches(std::uint8_t* buf, bool rightButton, bool second);
void FillCancel(std::uint8_t* buf);
