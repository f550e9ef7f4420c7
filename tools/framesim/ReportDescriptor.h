#pragma once
// The HID report descriptor a frame model presents, written as data: its
// top-level collections in order, each with its usage and the report ids it
// carries. The bytes follow from that table, so the descriptor always agrees
// with the collections and report ids the simulator plays.
#include <cstdint>
#include <vector>

#include "tools/framesim/FrameModel.h"

namespace framesim {

struct DescriptorReport {
  std::uint8_t id;  // 0: the device does not number its reports
  // Data bytes after the id byte (0: no report of that kind).
  std::uint16_t input, output, feature;
};

struct DescriptorCollection {
  int number;  // as in CollectionsOf: 1..5, 0 for a device with one collection
  std::uint16_t usagePage, usage;
  std::vector<DescriptorReport> reports;
};

// Every top-level collection of the model in descriptor order. Frames with
// several collections also carry the mouse emulation's pointer collection
// (col02), which the simulator lists as no interface: the system owns it.
std::vector<DescriptorCollection> DescriptorCollectionsOf(const FrameModel& m);
std::vector<std::uint8_t> ReportDescriptorOf(const FrameModel& m);

}  // namespace framesim
