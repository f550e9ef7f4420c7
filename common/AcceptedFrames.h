#pragma once
// The touch frames the system accepts, by vendor and product id: the one
// table behind the service's built-in "Vid&PidList", the device library's
// acceptance rule and the installer (common/AcceptedFrames.txt holds it).
#include <cstdint>

namespace frame {

enum : std::uint8_t {
  kInServiceList = 1,  // in the service's built-in list, in table order
  kInLibrary = 2,      // enumerated by the device library
};

struct AcceptedRange {
  std::uint16_t vendorId;
  std::uint16_t firstProduct;
  std::uint16_t lastProduct;
  std::uint8_t where;
};

inline constexpr AcceptedRange kAcceptedFrames[] = {
#include "common/AcceptedFrames.inc"
};

// Whether a range that `where` names holds the frame.
constexpr bool IsAccepted(std::uint16_t vendorId, std::uint16_t productId, std::uint8_t where) {
  for (const AcceptedRange& r : kAcceptedFrames) {
    if ((r.where & where) && r.vendorId == vendorId && productId >= r.firstProduct &&
        productId <= r.lastProduct) {
      return true;
    }
  }
  return false;
}

}  // namespace frame
