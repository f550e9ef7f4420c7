#pragma once
// One present HID interface (top-level collection) as enumeration finds it.
#include <cstdint>
#include <string>

namespace platform {

struct HidInterfaceInfo {
  std::string path;  // Windows form, e.g. \\?\hid#vid_3d5e&pid_0021&col03#...
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t versionNumber = 0;
};

}  // namespace platform
