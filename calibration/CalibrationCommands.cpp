#include "calibration/CalibrationCommands.h"

#include <cstring>

namespace {
void Start(std::uint8_t* buf, std::uint8_t code) {
  std::memset(buf, 0, kCalibrationCommandSize);
  buf[1] = code;
}
}  // namespace

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
