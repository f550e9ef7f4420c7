#pragma once
// The calibration conversation's command bytes. Each fills a whole 64-byte
// command report from zeros; byte 0 (the report id) is set when it is sent.
#include <cstdint>

enum : std::uint8_t {
  CMD_CALIBRATION = 0x01,
  CMD_SET_RB_PARAMS = 0x02,
  CMD_GET_RB_PARAMS = 0x03,
  CMD_SET_RB_SWITCHES = 0x04,
  CMD_CANCEL = 0x10,
};

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

constexpr int kCalibrationCommandSize = 64;

void FillCalibration(std::uint8_t* buf, std::uint8_t subCode, std::uint8_t x = 0,
                     std::uint8_t y = 0);
void FillSetRbParams(std::uint8_t* buf, std::int32_t timeMs, std::uint8_t range);
void FillGetRbParams(std::uint8_t* buf);
void FillSetRbSwitches(std::uint8_t* buf, bool rightButton, bool second);
void FillCancel(std::uint8_t* buf);
