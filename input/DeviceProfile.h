#pragma once
// The identity of the opened frame, the device classes derived from its
// firmware version number, and the list of acceptable vendor/product ids.
#include <cstddef>
#include <cstdint>
#include <string>

struct DeviceProfile {
  std::uint16_t VendorID = 0;
  std::uint16_t ProductID = 0;
  std::uint16_t VersionNumber = 0;
  bool Series01xx = false;         // product id & 0x0F00 == 0x0100
  std::uint8_t InputReportID = 0;  // 0x02 or 0xFC; also the command report id
};

// Version ranges. Split-channel frames answer on "col03" and report touches
// on "col04"; multi-touch frames (a subset) send the contact table.
constexpr bool IsSplitChannel(std::uint16_t v) {
  return (v >= 0x3002 && v <= 0x3FFF) || (v >= 0x4002 && v <= 0x6FFF);
}
constexpr bool IsMultiTouch(std::uint16_t v) {
  return (v >= 0x3300 && v <= 0x3FFF) || (v >= 0x4300 && v <= 0x6FFF);
}
constexpr bool IsSingleChannel(std::uint16_t v) {
  return !IsSplitChannel(v);
}
// Frames that obey CMD_TOUCH_OUTPUT.
constexpr bool IsTouchOutputRange(std::uint16_t v) {
  return (v >= 0x4002 && v <= 0x6FFF) || (v >= 0x3002 && v <= 0x3FFF) ||
         (v >= 0x2101 && v <= 0x2FFF);
}
constexpr bool IsSeries01xxProduct(std::uint16_t productId) {
  return (productId & 0x0F00) == 0x0100;
}

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
// The 134 built-in entries.
void DefaultVidPidList(VidPidList& list);
// Eight upper-case hex digits per entry, separated by one space.
std::string FormatVidPidList(const VidPidList& list);

// Reads "Vid&PidList" of section "Settings" from the settings file; when no
// entry results, loads the default list and writes it back.
void LoadVidPidList(const std::string& settingsPath, VidPidList& list);

// True on the first entry equal to (vendorId, productId); on a match also
// sets the profile's Series01xx flag from the product id.
bool MatchVidPid(const VidPidList& list, std::uint16_t vendorId, std::uint16_t productId,
                 DeviceProfile& profile);
