#include "platform/HidDescriptor.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace platform {

namespace {

enum ItemType { kMain = 0, kGlobal = 1, kLocal = 2 };
enum MainTag {
  kInput = 0x8,
  kOutput = 0x9,
  kCollection = 0xA,
  kFeature = 0xB,
  kEndCollection = 0xC
};
enum GlobalTag {
  kUsagePage = 0x0,
  kReportSize = 0x7,
  kReportId = 0x8,
  kReportCount = 0x9,
  kPush = 0xA,
  kPop = 0xB
};
enum LocalTag { kUsage = 0x0 };
constexpr std::uint8_t kLongItem = 0xFE;

struct Globals {
  std::uint32_t usagePage = 0, reportSize = 0, reportCount = 0;
  std::uint8_t reportId = 0;
};

// Report bits of one id, per kind, and the collection that owns the id.
struct IdState {
  int owner = -1;
  std::uint32_t bits[3] = {};  // input, output, feature
};

std::string At(std::size_t offset, const char* what) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "byte %lu: %s", static_cast<unsigned long>(offset), what);
  return buf;
}

std::uint16_t Bytes(std::uint32_t bits) {
  return static_cast<std::uint16_t>((bits + 7) / 8 + 1);
}

}  // namespace

int HidDescriptorInfo::CollectionOfReport(std::uint8_t id) const {
  for (std::size_t c = 0; c < collections.size(); ++c)
    for (const HidReportLengths& r : collections[c].reports)
      if (r.id == id) return static_cast<int>(c);
  return -1;
}

bool ParseHidDescriptor(const std::uint8_t* data, std::size_t size, HidDescriptorInfo& out,
                        std::string& error) {
  out = HidDescriptorInfo{};
  Globals g;
  std::array<Globals, kMaxGlobalStackDepth> stack{};
  int stackDepth = 0;
  bool haveUsage = false;
  std::uint32_t firstUsage = 0;
  int depth = 0;
  int current = -1;  // top-level collection being read
  std::array<IdState, 256> ids{};
  std::vector<std::uint8_t> order;  // ids in order of first appearance

  std::size_t pos = 0;
  while (pos < size) {
    const std::size_t start = pos;
    const std::uint8_t prefix = data[pos++];
    if (prefix == kLongItem) {
      // Long items carry nothing the seam uses: skipped, within bounds.
      if (size - pos < 2) return error = At(start, "truncated long item"), false;
      const std::size_t length = data[pos];
      pos += 2;
      if (size - pos < length) return error = At(start, "truncated long item"), false;
      pos += length;
      continue;
    }
    static const std::size_t kSizes[4] = {0, 1, 2, 4};
    const std::size_t n = kSizes[prefix & 3];
    if (size - pos < n) return error = At(start, "truncated item"), false;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < n; ++i) value |= std::uint32_t{data[pos + i]} << (8 * i);
    pos += n;
    const int type = (prefix >> 2) & 3;
    const int tag = prefix >> 4;

    if (type == kGlobal) {
      switch (tag) {
        case kUsagePage:
          g.usagePage = value & 0xFFFF;
          break;
        case kReportSize:
          if (value > kMaxReportFieldBits) return error = At(start, "report size too large"), false;
          g.reportSize = value;
          break;
        case kReportCount:
          if (value > kMaxReportCount) return error = At(start, "report count too large"), false;
          g.reportCount = value;
          break;
        case kReportId:
          if (value == 0 || value > 255) return error = At(start, "report id out of range"), false;
          g.reportId = static_cast<std::uint8_t>(value);
          out.numbered = true;
          break;
        case kPush:
          if (stackDepth == kMaxGlobalStackDepth)
            return error = At(start, "push nested too deep"), false;
          stack[stackDepth++] = g;
          break;
        case kPop:
          if (stackDepth == 0) return error = At(start, "pop without push"), false;
          g = stack[--stackDepth];
          break;
        default:
          break;
      }
    } else if (type == kLocal) {
      if (tag == kUsage && !haveUsage) {
        haveUsage = true;
        // A four-byte usage carries its own page in the upper half.
        firstUsage = n == 4 ? value : (g.usagePage << 16) | (value & 0xFFFF);
      }
    } else if (type == kMain) {
      switch (tag) {
        case kCollection:
          if (depth == kMaxCollectionDepth)
            return error = At(start, "collections nested too deep"), false;
          if (depth == 0) {
            HidTopLevelCollection c;
            const std::uint32_t usage = haveUsage ? firstUsage : g.usagePage << 16;
            c.usagePage = static_cast<std::uint16_t>(usage >> 16);
            c.usage = static_cast<std::uint16_t>(usage & 0xFFFF);
            out.collections.push_back(c);
            current = static_cast<int>(out.collections.size()) - 1;
          }
          ++depth;
          break;
        case kEndCollection:
          if (depth == 0) return error = At(start, "end of a collection never opened"), false;
          if (--depth == 0) current = -1;
          break;
        case kInput:
        case kOutput:
        case kFeature: {
          // Fields outside every collection belong to no interface: ignored.
          if (current < 0) break;
          IdState& id = ids[g.reportId];
          if (id.owner < 0) {
            id.owner = current;
            order.push_back(g.reportId);
          } else if (id.owner != current) {
            return error = At(start, "one report id in two top-level collections"), false;
          }
          const int kind = tag == kInput ? 0 : tag == kOutput ? 1 : 2;
          id.bits[kind] += g.reportSize * g.reportCount;
          if (id.bits[kind] > kMaxReportBytes * 8)
            return error = At(start, "report too long"), false;
          break;
        }
        default:
          break;
      }
      haveUsage = false;  // local items end with each main item
    }
    // Reserved item types (3) are skipped.
  }
  if (depth != 0) return error = At(size, "collection not closed (truncated descriptor)"), false;
  if (out.numbered && ids[0].owner >= 0)
    return error = "reports without an id beside numbered reports", false;

  for (std::uint8_t idValue : order) {
    const IdState& id = ids[idValue];
    HidTopLevelCollection& c = out.collections[id.owner];
    HidReportLengths r;
    r.id = idValue;
    if (id.bits[0]) c.inputLength = std::max(c.inputLength, r.input = Bytes(id.bits[0]));
    if (id.bits[1]) c.outputLength = std::max(c.outputLength, r.output = Bytes(id.bits[1]));
    if (id.bits[2]) c.featureLength = std::max(c.featureLength, r.feature = Bytes(id.bits[2]));
    c.reports.push_back(r);
  }
  return true;
}

}  // namespace platform
