#pragma once
// The identity of the opened frame, the device classes derived from its
// firmware version number, and the list of acceptable vendor/product ids.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/FrameClasses.h"

struct DeviceProfile {
  std::uint16_t VendorID = 0;
  std::uint16_t ProductID = 0;
  std::uint16_t VersionNumber = 0;
  bool Series01xx = false;         // product id & 0x0F00 == 0x0100
  std::uint8_t InputReportID = 0;  // 0x02 or 0xFC; also the command report id
};

// The classes of frame by version number.
using frame::IsMultiTouch;
using frame::IsSeries01xxProduct;
using frame::IsSingleChannel;
using frame::IsSplitChannel;
using frame::IsTouchOutputRange;

// Vendor id in the high half, product id in the low half.
constexpr std::size_t kMaxVidPidEntries = 1024;
// The settings value is read into a buffer of this many bytes.
constexpr std::size_t kVidPidTextBuffer = 9216;

struct VidPidList {
  std::uint32_t entry[kMaxVidPidEntries];
  std::size_t count = 0;
};

// Collects hex digits, skipping every other character; each run of eight
// digits is one entry. Stops at a NUL, after maxChars characters or at 1024
// entries; a trailing group of fewer than eight digits is dropped.
void ParseVidPidList(const char* text, std::size_t maxChars, VidPidList& list);
// What the limits of ParseVidPidList cut from a list: `total` entries in
// the whole text, the first `total - kept` of those beyond the kept ones
// starting with `firstCut`.
struct VidPidCut {
  std::size_t total = 0;
  std::uint32_t firstCut = 0;
};
// Counts every entry of `text` (no limit), for telling what was cut.
VidPidCut FindVidPidCut(const char* text, std::size_t kept);
// The 134 built-in entries.
void DefaultVidPidList(VidPidList& list);
// Eight upper-case hex digits per entry, separated by one space.
std::string FormatVidPidList(const VidPidList& list);

// True on the first entry equal to (vendorId, productId); on a match also
// sets the profile's Series01xx flag from the product id.
bool MatchVidPid(const VidPidList& list, std::uint16_t vendorId, std::uint16_t productId,
                 DeviceProfile& profile);
