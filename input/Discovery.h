#pragma once
// Which of the present HID interfaces belong to the touch frame, and which
// collection of it carries what.
#include <cstddef>
#include <string>
#include <vector>

#include "input/DeviceProfile.h"
#include "platform/HidInterface.h"

constexpr std::size_t kMaxDevicePaths = 10;

// The paths a discovery found. They persist between discoveries: entries
// are overwritten from index 0, and the reply and touch paths only when a
// matching interface shows them again.
struct DevicePaths {
  std::string path[kMaxDevicePaths];  // entry 0 is the one opened
  std::size_t count = 0;              // appended by the last discovery
  std::string replyPath;              // "col03" of a split-channel frame
  std::string touchPath;              // "col04" of a split-channel frame
};

// Walks the interfaces in enumeration order. The frame is the device of the
// first listed interface whose collection its class writes to; only that
// device's interfaces count. Each of them sets the profile (so it ends as
// that of the last one seen); the collection test of its class decides
// whether its path is appended. Stops after ten appends.
// Returns the number appended (0: nothing to open).
std::size_t DiscoverTouchFrame(const std::vector<platform::HidInterfaceInfo>& interfaces,
                               const VidPidList& list, DeviceProfile& profile, DevicePaths& paths);

// The device an interface path belongs to, the same for all its collections
// and without regard to case.
std::string FrameInstanceOf(const std::string& path);

// Interface names as the system hands them out compare without regard to
// case (a notification may spell the path otherwise than the enumeration).
bool SamePathIgnoringCase(const std::string& a, const std::string& b);
