#pragma once
// The classes of touch frame, decided by the firmware version number (and,
// for the Series01xx line, the product id). Every library that must know
// what a frame speaks asks here: the pipeline, the outputs, the device
// library and the tools. (The frame simulator keeps its own description on
// purpose, so that a wrong rule here cannot hide behind a frame built from
// the same rule.)
#include <cstdint>

namespace frame {

// Split-channel frames answer on collection "col03" and send touches on
// "col04". 0x3000/0x3001 and 0x4000/0x4001 are single-channel firmware.
constexpr bool IsSplitChannel(std::uint16_t v) {
  return (v >= 0x3002 && v <= 0x3FFF) || (v >= 0x4002 && v <= 0x6FFF);
}

// Multi-touch frames (a subset of split-channel) send the contact table and
// switch their mouse emulation through the driver API.
constexpr bool IsMultiTouch(std::uint16_t v) {
  return (v >= 0x3300 && v <= 0x3FFF) || (v >= 0x4300 && v <= 0x6FFF);
}

constexpr bool IsSingleChannel(std::uint16_t v) {
  return !IsSplitChannel(v);
}

// Frames that obey CMD_TOUCH_OUTPUT: single-channel firmware 0x2101-0x2FFF
// and every split-channel frame.
constexpr bool IsTouchOutputRange(std::uint16_t v) {
  return (v >= 0x2101 && v <= 0x2FFF) || IsSplitChannel(v);
}

// The input report id (also the command report id) of a frame that is not
// Series01xx: split-channel frames and single-channel firmware from 0x2101
// on use 0xFC, older single-channel firmware 0x02.
constexpr std::uint8_t InputReportIdFor(std::uint16_t v) {
  return IsSplitChannel(v) || v >= 0x2101 ? 0xFC : 0x02;
}

// Product ids 0x01xx: the Series01xx line (layout F, report id 0xFE for
// commands, mode bytes).
constexpr bool IsSeries01xxProduct(std::uint16_t productId) {
  return (productId & 0x0F00) == 0x0100;
}

// Series01xx firmware from 0x0201 on takes mode commands and reports six
// mode bytes instead of three.
constexpr bool HasFullSeriesMode(std::uint16_t v) {
  return v >= 0x0201;
}

// The five touch-report layouts.
enum class TouchLayout : std::uint8_t {
  kF,   // Series01xx: two points with event codes
  kMT,  // multi-touch contact table, seven or more contacts in two reports
  kA,   // two points, slot base 1
  kB,   // two points, slot base 3
  kC,   // four points, slot base 3
};

constexpr TouchLayout LayoutFor(std::uint16_t v, bool series01xx) {
  if (series01xx) return TouchLayout::kF;
  if (IsMultiTouch(v)) return TouchLayout::kMT;
  if (v >= 0x4013) return TouchLayout::kC;
  if ((v >= 0x2101 && v <= 0x2FFF) || (v >= 0x3002 && v <= 0x3FFF) ||
      (v >= 0x4002 && v <= 0x4FFF)) {
    return TouchLayout::kB;
  }
  return TouchLayout::kA;
}

// Frames from 0x4013 on report four points: the XML output numbers their
// touches itself instead of by slot.
constexpr bool HasFourPointIdentifiers(std::uint16_t v) {
  return v >= 0x4013;
}

// Only this vendor's frames get reader threads.
constexpr std::uint16_t kReaderVendor = 0x3D5E;

}  // namespace frame
