#pragma once
// One present HID interface (top-level collection) as enumeration finds it.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Every input and output report of a frame: byte 0 the report id.
constexpr std::size_t kReportSize = 64;

struct HidInterfaceInfo {
  std::string path;  // Windows form, e.g. \\?\hid#vid_3d5e&pid_0021&col03#...
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t versionNumber = 0;
};

}  // namespace platform
