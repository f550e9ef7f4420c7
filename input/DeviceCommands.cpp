#include "input/DeviceCommands.h"

#include <cstring>

namespace {

// The commands that start from zeros.
void Start(std::uint8_t* buf, std::uint8_t code) {
  std::memset(buf, 0, kCommandSize);
  buf[1] = code;
}

}  // namespace

std::uint8_t CommandReportId(const DeviceProfile& profile) {
  return profile.Series01xx ? 0xFE : profile.InputReportID;
}

void FillReadCalibration(std::uint8_t* buf) {
  buf[1] = CMD_READ_CALIBRATION;
}

void FillMouseMode(std::uint8_t* buf, bool on, std::uint8_t reason) {
  std::memset(buf, 0, kCommandSize);
  buf[1] = CMD_MOUSE_MODE;
  buf[2] = on ? 1 : 0;
  buf[3] = reason;
}

void FillSeriesMode(std::uint8_t* buf, const std::uint8_t b[5]) {
  buf[1] = CMD_SERIES_MODE;
  std::memcpy(buf + 2, b, 5);
}

void FillSeriesQuery(std::uint8_t* buf) {
  std::memset(buf, 0, kCommandSize);
  buf[1] = CMD_SERIES_QUERY;
}

void FillTouchOutput(std::uint8_t* buf, bool on) {
  std::memset(buf, 0, kCommandSize);
  buf[1] = CMD_TOUCH_OUTPUT;
  buf[2] = 1;
  buf[3] = 1;
  buf[4] = 0;
  buf[5] = on ? 1 : 0;
}

SeriesModeBytes SeriesInitMode(const SeriesMode& m) {
  return {{m.m[0], 1, 3, 0, 0}};
}

SeriesModeBytes SeriesMouseOnMode(const SeriesMode& m) {
  return {{m.m[0], m.m[1], m.m[2], 1, m.m[4]}};
}

SeriesModeBytes SeriesMouseOffMode(const SeriesMode& m) {
  return {{m.m[0], 3, 0, 1, 0}};
}

SeriesModeBytes SeriesStoredMode(const SeriesMode& m) {
  return {{m.m[0], m.m[1], m.m[2], m.m[3], m.m[4]}};
}

void FillCalibration(std::uint8_t* buf, std::uint8_t subCode, std::uint8_t x, std::uint8_t y) {
  Start(buf, CMD_CALIBRATION);
  buf[2] = subCode;
  buf[4] = x;
  buf[8] = y;
}

void FillSetRbParams(std::uint8_t* buf, std::int32_t timeMs, std::uint8_t range) {
  Start(buf, CMD_SET_RB_PARAMS);
  const auto t = static_cast<std::uint32_t>(timeMs);
  for (int i = 0; i < 4; ++i) buf[2 + i] = static_cast<std::uint8_t>(t >> (8 * i));
  buf[6] = range;
}

void FillGetRbParams(std::uint8_t* buf) {
  Start(buf, CMD_GET_RB_PARAMS);
}

void FillSetRbSwitches(std::uint8_t* buf, bool rightButton, bool second) {
  Start(buf, CMD_SET_RB_SWITCHES);
  buf[2] = rightButton ? 1 : 0;
  buf[3] = second ? 1 : 0;
}

void FillCancel(std::uint8_t* buf) {
  Start(buf, CMD_CANCEL);
}
