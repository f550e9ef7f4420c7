#include "tools/framesim/ReportDescriptor.h"

namespace framesim {

namespace {

constexpr std::uint16_t kVendorPage = 0xFF00;
constexpr std::uint16_t kDesktopPage = 0x01, kMouse = 0x02;
// The mouse emulation's pointer reports, never played by the simulator.
constexpr std::uint8_t kPointerReportId = 0x03;
constexpr std::uint8_t kControlReportId = 0x01;
constexpr std::uint8_t kAuxReportId = 0xFA;
constexpr std::uint16_t kData = 63;  // a 64-byte report after its id byte

DescriptorCollection Vendor(int number, std::vector<DescriptorReport> reports) {
  return {number, kVendorPage, static_cast<std::uint16_t>(number > 0 ? number : 1),
          std::move(reports)};
}

DescriptorCollection Pointer() {
  return {2, kDesktopPage, kMouse, {{kPointerReportId, 5, 0, 0}}};
}

// Short items: the smallest size that holds `value` (as an unsigned number).
void Item(std::vector<std::uint8_t>& d, std::uint8_t prefix, std::uint32_t value) {
  if (value <= 0xFF) {
    d.insert(d.end(), {static_cast<std::uint8_t>(prefix | 1), static_cast<std::uint8_t>(value)});
  } else if (value <= 0xFFFF) {
    d.insert(d.end(), {static_cast<std::uint8_t>(prefix | 2), static_cast<std::uint8_t>(value),
                       static_cast<std::uint8_t>(value >> 8)});
  } else {
    d.push_back(static_cast<std::uint8_t>(prefix | 3));
    for (int i = 0; i < 4; ++i) d.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
}

enum : std::uint8_t {
  kUsagePage = 0x04,
  kUsage = 0x08,
  kUsageMin = 0x18,
  kUsageMax = 0x28,
  kCollection = 0xA0,
  kEnd = 0xC0,
  kReportId = 0x84,
  kLogicalMin = 0x14,
  kLogicalMax = 0x24,
  kReportSize = 0x74,
  kReportCount = 0x94,
  kInput = 0x80,
  kOutput = 0x90,
  kFeature = 0xB0,
};
constexpr std::uint32_t kApplication = 0x01, kPhysical = 0x00;
constexpr std::uint32_t kVariable = 0x02, kConstant = 0x01, kRelative = 0x06;

void VendorBytes(std::vector<std::uint8_t>& d, const DescriptorCollection& c) {
  d.insert(d.end(), {0x06, 0x00, 0xFF});  // vendor page, always two bytes
  Item(d, kUsage, c.usage);
  Item(d, kCollection, kApplication);
  Item(d, kLogicalMin, 0);
  Item(d, kLogicalMax, 0xFF);
  Item(d, kReportSize, 8);
  for (const DescriptorReport& r : c.reports) {
    if (r.id) Item(d, kReportId, r.id);
    const std::pair<std::uint16_t, std::uint8_t> kinds[] = {
        {r.input, kInput}, {r.output, kOutput}, {r.feature, kFeature}};
    for (const auto& k : kinds) {
      if (!k.first) continue;
      Item(d, kReportCount, k.first);
      Item(d, kUsage, c.usage);
      Item(d, k.second, kVariable);
    }
  }
  d.push_back(kEnd);
}

// Three buttons and an absolute position; with an id for a frame's pointer,
// without for the unrelated mouse (three buttons, relative x, y, wheel).
void PointerBytes(std::vector<std::uint8_t>& d, const DescriptorCollection& c) {
  const bool absolute = c.reports[0].id != 0;
  Item(d, kUsagePage, kDesktopPage);
  Item(d, kUsage, kMouse);
  Item(d, kCollection, kApplication);
  if (absolute) Item(d, kReportId, c.reports[0].id);
  Item(d, kUsage, 0x01);  // pointer
  Item(d, kCollection, kPhysical);
  Item(d, kUsagePage, 0x09);  // buttons
  Item(d, kUsageMin, 1);
  Item(d, kUsageMax, 3);
  Item(d, kLogicalMin, 0);
  Item(d, kLogicalMax, 1);
  Item(d, kReportSize, 1);
  Item(d, kReportCount, 3);
  Item(d, kInput, kVariable);
  Item(d, kReportSize, 5);
  Item(d, kReportCount, 1);
  Item(d, kInput, kConstant);
  Item(d, kUsagePage, kDesktopPage);
  Item(d, kUsage, 0x30);  // x
  Item(d, kUsage, 0x31);  // y
  if (absolute) {
    Item(d, kLogicalMax, 0x7FFF);
    Item(d, kReportSize, 16);
    Item(d, kReportCount, 2);
    Item(d, kInput, kVariable);
  } else {
    Item(d, kUsage, 0x38);            // wheel
    d.insert(d.end(), {0x15, 0x81});  // logical minimum -127
    Item(d, kLogicalMax, 0x7F);
    Item(d, kReportSize, 8);
    Item(d, kReportCount, 3);
    Item(d, kInput, kRelative);
  }
  d.push_back(kEnd);
  d.push_back(kEnd);
}

}  // namespace

std::vector<DescriptorCollection> DescriptorCollectionsOf(const FrameModel& m) {
  const std::uint8_t reply = ReplyReportId(m), command = CommandReportId(m);
  switch (FrameClassOf(m)) {
    case FrameClass::kSplitChannel:
      return {Vendor(1, {{kControlReportId, kData, kData, kData}}), Pointer(),
              Vendor(3, {{reply, kData, kData, 0}}), Vendor(4, {{TouchReportId(m), kData, 0, 0}}),
              Vendor(5, {{kAuxReportId, kData, 0, 0}})};
    case FrameClass::kSingleChannel:
      return {Vendor(1, {{kControlReportId, kData, kData, kData}}), Pointer(),
              Vendor(3, {{reply, kData, kData, 0}})};
    case FrameClass::kSeries01xx:
      return {Vendor(1, {{reply, kData, 0, 0}, {command, 0, kData, 0}}), Pointer()};
    case FrameClass::kOneInterface:
      return {Vendor(0, {{reply, kData, kData, 0}})};
    case FrameClass::kOtherDevice:
      return {{0, kDesktopPage, kMouse, {{0, 4, 0, 0}}}};
  }
  return {};
}

std::vector<std::uint8_t> ReportDescriptorOf(const FrameModel& m) {
  std::vector<std::uint8_t> d;
  for (const DescriptorCollection& c : DescriptorCollectionsOf(m)) {
    if (c.usagePage == kVendorPage)
      VendorBytes(d, c);
    else
      PointerBytes(d, c);
  }
  return d;
}

}  // namespace framesim
