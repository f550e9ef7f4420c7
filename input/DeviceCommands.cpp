#include "input/DeviceCommands.h"

#include <cstring>

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
