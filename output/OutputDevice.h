#pragma once
#include <cstdint>

// What the outputs need to know of the opened frame: its version number
// (which picks the XML identifier rule) and whether it is a Series01xx
// frame (product id & 0x0F00 == 0x0100), which reports 2 points in units of
// 1/32760 instead of 4 points in units of 1/4096.
struct OutputDevice {
  std::uint16_t versionNumber = 0;
  bool series01xx = false;
};
