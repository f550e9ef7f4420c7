#pragma once
// A HID report descriptor read as far as the seam needs it: the top-level
// collections with their usage, the report ids each one carries and the byte
// lengths of its input, output and feature reports (as HidP_GetCaps gives
// them on Windows: the report id byte included, the longest report of each
// kind). Pure: bytes in, a description or a refusal out.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Limits beyond which a descriptor is refused as malformed.
constexpr int kMaxCollectionDepth = 16;
constexpr int kMaxGlobalStackDepth = 8;
constexpr std::uint32_t kMaxReportFieldBits = 256;  // one field's Report Size
constexpr std::uint32_t kMaxReportCount = 12288;
constexpr std::uint32_t kMaxReportBytes = 16384;  // one report, without its id byte

// One report of a collection. Lengths count the report id byte, 0 when the
// collection has no report of that kind with this id.
struct HidReportLengths {
  std::uint8_t id = 0;  // 0: the device does not number its reports
  std::uint16_t input = 0, output = 0, feature = 0;
};

struct HidTopLevelCollection {
  std::uint16_t usagePage = 0, usage = 0;
  std::vector<HidReportLengths> reports;  // in the order they first appear
  // The longest report of each kind, id byte included (0: none).
  std::uint16_t inputLength = 0, outputLength = 0, featureLength = 0;
};

struct HidDescriptorInfo {
  bool numbered = false;  // reports start with their id byte
  std::vector<HidTopLevelCollection> collections;

  // The collection (index) that carries report `id`, or -1.
  int CollectionOfReport(std::uint8_t id) const;
};

// Parses `size` bytes. On failure returns false with `error` naming the
// fault and its byte offset; `out` is then unspecified. Never reads outside
// [data, data + size).
bool ParseHidDescriptor(const std::uint8_t* data, std::size_t size, HidDescriptorInfo& out,
                        std::string& error);

}  // namespace platform
