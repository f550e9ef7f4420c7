#pragma once
// The library's decisions, free of I/O: which variant a record is, which
// frames enumeration accepts and how it fills their records, and the limits
// reported in record copies.
#include <cstdint>
#include <functional>
#include <vector>

#include "device/Pelladex.h"
#include "platform/HidInterface.h"

namespace pelladex {

enum class Variant {
  kSplitChannel,   // HID, kind 1, version 0x3002..0x3FFF or 0x4002..0x6FFF
  kSingleChannel,  // HID, kind 1, 2 or 3, not split-channel
  kSerial,         // interfaceType 2
  kNone,           // anything else: no method does I/O on it
};

bool IsSplitChannelVersion(std::uint16_t version);
bool IsSplitChannel(const _TouchDevInfo& info);
Variant VariantOf(const _TouchDevInfo& info);
// An HID record of kind 1, 2 or 3 (whatever its version).
bool IsHidKnownKind(const _TouchDevInfo& info);
// Kind-1 single-channel frames below 0x2FFF also have a control collection.
bool HasControlCollection(const _TouchDevInfo& info);
// The feature and interrupt operations serve kind 1 with 0x2000..0x2FFE.
bool ServesControlOperations(const _TouchDevInfo& info);
// xMax/yMax reported by GetDeviceInfo.
std::uint32_t LogicalMaximum(const _TouchDevInfo& info);

// The product ids enumeration accepts (134 pairs).
bool IsAcceptedFrame(std::uint16_t vendorId, std::uint16_t productId);

// Replaces every non-overlapping occurrence of `from` by `to` (same length),
// left to right, in a NUL-terminated string.
void ReplaceSameLength(char* text, const char* from, const char* to);
// The upper-case device instance identifier of an interface path: without
// the "\\?\hid#" prefix and the "#{class guid}" suffix, '#' turned into '\'.
void InstanceIdFromPath(const char* path, char (&out)[TOUCHDEV_PATH_LEN]);

constexpr int kRecordsPerPass = 8;

// One walk over the present HID interfaces. Each pass fills at most eight
// records of `work` and returns how many it completed. A rule that writes
// into the current record without completing it leaves that data for the
// next interface (this is how a standard frame's control path, seen on its
// "col01" interface, reaches the record completed by its "col03").
int RunSplitChannelPass(const std::vector<platform::HidInterfaceInfo>& interfaces,
                        _TouchDevInfo (&work)[kRecordsPerPass]);
int RunOtherFramesPass(const std::vector<platform::HidInterfaceInfo>& interfaces,
                       _TouchDevInfo (&work)[kRecordsPerPass]);

// FindDevice over an enumerator (called once per pass): split-channel frames
// first, then the others; never more than `count` records written.
short FindFrames(const std::function<std::vector<platform::HidInterfaceInfo>()>& enumerate,
                 _TouchDevInfo* list, short count);

}  // namespace pelladex
