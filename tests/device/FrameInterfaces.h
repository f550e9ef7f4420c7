#pragma once
// Touch frames described as data, and the HID interfaces (one per top-level
// collection, Windows path form) the system lists for them.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/HidInterface.h"

namespace pelladex_test {

struct FrameDesc {
  std::uint16_t vendorId;
  std::uint16_t productId;
  std::uint16_t versionNumber;
  std::vector<int> collections;  // e.g. {1, 3, 4, 5}
  int unit = 0;                  // tells apart frames of the same model
};

inline std::string InterfacePath(const FrameDesc& f, int collection) {
  char text[160];
  std::snprintf(text, sizeof text,
                "\\\\?\\hid#vid_%04x&pid_%04x&col%02d#7&2c1e7a%02x&0&%04d"
                "#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                f.vendorId, f.productId, collection, f.unit, collection - 1);
  return text;
}

// Interfaces in the order given: frame by frame, collection by collection.
inline std::vector<platform::HidInterfaceInfo> Interfaces(const std::vector<FrameDesc>& frames) {
  std::vector<platform::HidInterfaceInfo> list;
  for (const FrameDesc& f : frames) {
    for (int c : f.collections) {
      list.push_back({InterfacePath(f, c), f.vendorId, f.productId, f.versionNumber});
    }
  }
  return list;
}

}  // namespace pelladex_test
