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

// One item as it stands in the descriptor.
struct Item {
  std::size_t start = 0;  // offset of its prefix byte
  int type = 0, tag = 0;
  std::size_t size = 0;  // data bytes: 0, 1, 2 or 4
  std::uint32_t value = 0;
};

// One pass over a descriptor, item by item: read the next item, apply it to
// the global, local or main state, and at the end check what is left open
// and turn the bits of each report id into its collection's lengths. Every
// step that refuses the descriptor names the fault and its offset.
class DescriptorParser {
 public:
  DescriptorParser(const std::uint8_t* data, std::size_t size, HidDescriptorInfo& out,
                   std::string& error)
      : data_(data), size_(size), out_(out), error_(error) {}

  bool Parse() {
    out_ = HidDescriptorInfo{};
    while (pos_ < size_) {
      Item item;
      bool skip = false;
      if (!ReadItem(item, skip)) return false;
      if (skip) continue;
      if (item.type == kGlobal && !ApplyGlobal(item)) return false;
      if (item.type == kLocal) ApplyLocal(item);
      if (item.type == kMain && !ApplyMain(item)) return false;
      // Reserved item types (3) are skipped.
    }
    if (!CheckComplete()) return false;
    FillLengths();
    return true;
  }

 private:
  bool Fail(std::size_t offset, const char* what) {
    error_ = At(offset, what);
    return false;
  }

  // The item at pos_, bounds checked; `skip` for a long item, which carries
  // nothing the seam uses.
  bool ReadItem(Item& item, bool& skip) {
    item.start = pos_;
    const std::uint8_t prefix = data_[pos_++];
    if (prefix == kLongItem) {
      if (size_ - pos_ < 2) return Fail(item.start, "truncated long item");
      const std::size_t length = data_[pos_];
      pos_ += 2;
      if (size_ - pos_ < length) return Fail(item.start, "truncated long item");
      pos_ += length;
      skip = true;
      return true;
    }
    static const std::size_t kSizes[4] = {0, 1, 2, 4};
    item.size = kSizes[prefix & 3];
    if (size_ - pos_ < item.size) return Fail(item.start, "truncated item");
    for (std::size_t i = 0; i < item.size; ++i)
      item.value |= std::uint32_t{data_[pos_ + i]} << (8 * i);
    pos_ += item.size;
    item.type = (prefix >> 2) & 3;
    item.tag = prefix >> 4;
    return true;
  }

  bool ApplyGlobal(const Item& item) {
    const std::uint32_t value = item.value;
    switch (item.tag) {
      case kUsagePage:
        g_.usagePage = value & 0xFFFF;
        break;
      case kReportSize:
        if (value > kMaxReportFieldBits) return Fail(item.start, "report size too large");
        g_.reportSize = value;
        break;
      case kReportCount:
        if (value > kMaxReportCount) return Fail(item.start, "report count too large");
        g_.reportCount = value;
        break;
      case kReportId:
        if (value == 0 || value > 255) return Fail(item.start, "report id out of range");
        g_.reportId = static_cast<std::uint8_t>(value);
        out_.numbered = true;
        break;
      case kPush:
        if (stackDepth_ == kMaxGlobalStackDepth) return Fail(item.start, "push nested too deep");
        stack_[stackDepth_++] = g_;
        break;
      case kPop:
        if (stackDepth_ == 0) return Fail(item.start, "pop without push");
        g_ = stack_[--stackDepth_];
        break;
      default:
        break;
    }
    return true;
  }

  // Only the first usage matters: it names a top-level collection.
  void ApplyLocal(const Item& item) {
    if (item.tag != kUsage || haveUsage_) return;
    haveUsage_ = true;
    // A four-byte usage carries its own page in the upper half.
    firstUsage_ = item.size == 4 ? item.value : (g_.usagePage << 16) | (item.value & 0xFFFF);
  }

  bool ApplyMain(const Item& item) {
    bool ok = true;
    switch (item.tag) {
      case kCollection:
        ok = OpenCollection(item);
        break;
      case kEndCollection:
        if (depth_ == 0) return Fail(item.start, "end of a collection never opened");
        if (--depth_ == 0) current_ = -1;
        break;
      case kInput:
      case kOutput:
      case kFeature:
        ok = AddField(item);
        break;
      default:
        break;
    }
    haveUsage_ = false;  // local items end with each main item
    return ok;
  }

  bool OpenCollection(const Item& item) {
    if (depth_ == kMaxCollectionDepth) return Fail(item.start, "collections nested too deep");
    if (depth_ == 0) {
      HidTopLevelCollection c;
      const std::uint32_t usage = haveUsage_ ? firstUsage_ : g_.usagePage << 16;
      c.usagePage = static_cast<std::uint16_t>(usage >> 16);
      c.usage = static_cast<std::uint16_t>(usage & 0xFFFF);
      out_.collections.push_back(c);
      current_ = static_cast<int>(out_.collections.size()) - 1;
    }
    ++depth_;
    return true;
  }

  // An input, output or feature field: its bits count for the current
  // report id, which belongs to one top-level collection only.
  bool AddField(const Item& item) {
    // Fields outside every collection belong to no interface: ignored.
    if (current_ < 0) return true;
    IdState& id = ids_[g_.reportId];
    if (id.owner < 0) {
      id.owner = current_;
      order_.push_back(g_.reportId);
    } else if (id.owner != current_) {
      return Fail(item.start, "one report id in two top-level collections");
    }
    const int kind = item.tag == kInput ? 0 : item.tag == kOutput ? 1 : 2;
    id.bits[kind] += g_.reportSize * g_.reportCount;
    if (id.bits[kind] > kMaxReportBytes * 8) return Fail(item.start, "report too long");
    return true;
  }

  bool CheckComplete() {
    if (depth_ != 0) return Fail(size_, "collection not closed (truncated descriptor)");
    if (out_.numbered && ids_[0].owner >= 0) {
      error_ = "reports without an id beside numbered reports";
      return false;
    }
    return true;
  }

  // Each id's bits as byte lengths (id byte included), in the order the ids
  // first appeared, and each collection's longest report of each kind.
  void FillLengths() {
    for (std::uint8_t idValue : order_) {
      const IdState& id = ids_[idValue];
      HidTopLevelCollection& c = out_.collections[id.owner];
      HidReportLengths r;
      r.id = idValue;
      if (id.bits[0]) c.inputLength = std::max(c.inputLength, r.input = Bytes(id.bits[0]));
      if (id.bits[1]) c.outputLength = std::max(c.outputLength, r.output = Bytes(id.bits[1]));
      if (id.bits[2]) c.featureLength = std::max(c.featureLength, r.feature = Bytes(id.bits[2]));
      c.reports.push_back(r);
    }
  }

  const std::uint8_t* data_;
  std::size_t size_;
  HidDescriptorInfo& out_;
  std::string& error_;
  std::size_t pos_ = 0;
  Globals g_;
  std::array<Globals, kMaxGlobalStackDepth> stack_{};
  int stackDepth_ = 0;
  bool haveUsage_ = false;
  std::uint32_t firstUsage_ = 0;
  int depth_ = 0;
  int current_ = -1;  // top-level collection being read
  std::array<IdState, 256> ids_{};
  std::vector<std::uint8_t> order_;  // ids in order of first appearance
};

}  // namespace

int HidDescriptorInfo::CollectionOfReport(std::uint8_t id) const {
  for (std::size_t c = 0; c < collections.size(); ++c)
    for (const HidReportLengths& r : collections[c].reports)
      if (r.id == id) return static_cast<int>(c);
  return -1;
}

bool ParseHidDescriptor(const std::uint8_t* data, std::size_t size, HidDescriptorInfo& out,
                        std::string& error) {
  return DescriptorParser(data, size, out, error).Parse();
}

}  // namespace platform
