#include "tools/framesim/FrameModel.h"

#include <cstdio>
#include <cstdlib>

namespace framesim {

// The simulator describes the classes of frame on its own, independently of
// common/FrameClasses.h that the service uses: a wrong rule there then shows
// as a frame the service misreads, instead of being copied into the frames
// it is tested against.
bool IsSplitChannel(std::uint16_t v) {
  return (v >= 0x3002 && v <= 0x3FFF) || (v >= 0x4002 && v <= 0x6FFF);
}
bool IsMultiTouch(std::uint16_t v) {
  return (v >= 0x3300 && v <= 0x3FFF) || (v >= 0x4300 && v <= 0x6FFF);
}
bool HasTouchOutputSwitch(std::uint16_t v) {
  return (v >= 0x2101 && v <= 0x2FFF) || IsSplitChannel(v);
}

FrameClass FrameClassOf(const FrameModel& m) {
  if (m.otherDevice) return FrameClass::kOtherDevice;
  if (m.productId == 0xF0FC) return FrameClass::kOneInterface;
  if ((m.productId & 0x0F00) == 0x0100) return FrameClass::kSeries01xx;
  if (IsSplitChannel(m.versionNumber)) return FrameClass::kSplitChannel;
  return FrameClass::kSingleChannel;
}

namespace {

// What a class of frame fixes, one row per class: its layout unless the
// version decides it, the report ids it speaks, its collections and which
// of them carry touch and commands.
struct ClassFacts {
  FrameClass frameClass;
  Layout layout;              // kAuto: by version number
  std::uint8_t touchId;       // 0: the reply id
  std::uint8_t replyId;       // firmware from 0x2101 on
  std::uint8_t oldReplyId;    // firmware before 0x2101
  std::uint8_t commandId;     // 0: the reply id
  int touchCollection;        // -1: none
  int commandCollection;      // -1: none
  Collection collections[4];  // number, input, output, feature lengths
  std::size_t collectionCount;
};

// clang-format off
const ClassFacts kClassFacts[] = {
  // class, layout; report ids: touch, reply, reply before 0x2101, command;
  // collections: touch, command; then every collection.
  {FrameClass::kSplitChannel,  Layout::kAuto, 0xFB, 0xFC, 0xFC, 0,      4,    3,
   {{1, 64, 64, 64}, {3, 64, 64, 0}, {4, 64, 0, 0}, {5, 64, 0, 0}}, 4},
  {FrameClass::kSingleChannel, Layout::kAuto, 0,    0xFC, 0x02, 0,      3,    3,
   {{1, 64, 64, 64}, {3, 64, 64, 0}}, 2},
  {FrameClass::kSeries01xx,    Layout::kF,    0xFD, 0xFD, 0xFD, 0xFE,   1,    1,
   {{1, 64, 64, 0}}, 1},
  {FrameClass::kOneInterface,  Layout::kAuto, 0,    0xFC, 0xFC, 0,      0,    0,
   {{0, 64, 64, 0}}, 1},
  {FrameClass::kOtherDevice,   Layout::kNone, 0,    0xFC, 0xFC, 0,      -1,   -1,
   {{0, 5, 0, 0}}, 1},
};
// clang-format on

const ClassFacts& FactsOf(const FrameModel& m) {
  const FrameClass c = FrameClassOf(m);
  for (const ClassFacts& f : kClassFacts)
    if (f.frameClass == c) return f;
  return kClassFacts[1];  // every class has a row
}

}  // namespace

Layout LayoutOf(const FrameModel& m) {
  if (m.layout != Layout::kAuto) return m.layout;
  const Layout fixed = FactsOf(m).layout;
  if (fixed != Layout::kAuto) return fixed;
  std::uint16_t v = m.versionNumber;
  if (IsMultiTouch(v)) return Layout::kMT;
  if (v >= 0x4013) return Layout::kC;
  if ((v >= 0x2101 && v <= 0x2FFF) || (v >= 0x3002 && v <= 0x3FFF) || (v >= 0x4002 && v <= 0x4FFF))
    return Layout::kB;
  return Layout::kA;
}

namespace {
#define FRAMESIM_LAYOUT_ENTRY(e, name) {Layout::e, name},
constexpr struct {
  Layout layout;
  const char* name;
} kLayouts[] = {FRAMESIM_LAYOUT_LIST(FRAMESIM_LAYOUT_ENTRY)};
#undef FRAMESIM_LAYOUT_ENTRY
}  // namespace

const char* LayoutName(Layout layout) {
  for (const auto& e : kLayouts)
    if (e.layout == layout) return e.name;
  return "auto";
}

std::uint8_t TouchReportId(const FrameModel& m) {
  const std::uint8_t id = FactsOf(m).touchId;
  return id ? id : ReplyReportId(m);
}

std::uint8_t ReplyReportId(const FrameModel& m) {
  const ClassFacts& f = FactsOf(m);
  return m.versionNumber < 0x2101 ? f.oldReplyId : f.replyId;
}

std::uint8_t CommandReportId(const FrameModel& m) {
  const std::uint8_t id = FactsOf(m).commandId;
  return id ? id : ReplyReportId(m);
}

std::uint32_t CoordinateMax(Layout layout) {
  return (layout == Layout::kF || layout == Layout::kMT) ? 32760 : 4095;
}

std::vector<Collection> CollectionsOf(const FrameModel& m) {
  const ClassFacts& f = FactsOf(m);
  return std::vector<Collection>(f.collections, f.collections + f.collectionCount);
}

int TouchCollection(const FrameModel& m) {
  return FactsOf(m).touchCollection;
}

int CommandCollection(const FrameModel& m) {
  return FactsOf(m).commandCollection;
}

std::string InterfacePath(const FrameModel& m, const std::string& instance, int collection) {
  char buf[160];
  if (collection > 0) {
    // Windows numbers the collections' instances from 0000 for col01.
    std::snprintf(buf, sizeof buf, "\\\\?\\hid#vid_%04x&pid_%04x&col%02d#%s&%04d#", m.vendorId,
                  m.productId, collection, instance.c_str(), collection - 1);
  } else {
    std::snprintf(buf, sizeof buf, "\\\\?\\hid#vid_%04x&pid_%04x#%s&0000#", m.vendorId, m.productId,
                  instance.c_str());
  }
  return std::string(buf) + "{4d1e55b2-f16f-11cf-88cb-001111000030}";
}

std::string InstanceFor(const std::string& frameName) {
  std::uint32_t h = 2166136261u;  // FNV-1a
  for (unsigned char c : frameName) h = (h ^ c) * 16777619u;
  char digits[8];
  for (int i = 0; i < 7; ++i) {
    // Digits 1-9 and a-f only: no zero, so no "0002" inside the instance.
    static const char kSet[] = "123456789abcdef";
    digits[i] = kSet[h % 15];
    h /= 15;
    if (h == 0) h = 0x9E3779B9u;
  }
  digits[7] = 0;
  return std::string("7&") + digits + "&0";
}

namespace {

FrameModel Model(const char* name, const char* summary, std::uint16_t pid, std::uint16_t version) {
  FrameModel m;
  m.name = name;
  m.summary = summary;
  m.productId = pid;
  m.versionNumber = version;
  // A factory calibration: targets at 1/8 and 7/8 of 4096, measured a little off.
  const std::uint16_t block[12] = {512, 512, 3584, 512, 3584, 3584,
                                   530, 498, 3561, 520, 3570, 3602};
  for (int i = 0; i < 12; ++i) m.calibration[i] = block[i];
  return m;
}

std::vector<FrameModel> BuildCatalogue() {
  std::vector<FrameModel> all;
  FrameModel m =
      Model("split-mt", "split-channel multi-touch frame, contact table", 0x0021, 0x3301);
  m.maxPoints = 10;
  m.detail = {0x00012345, 0x0203, 0x0405, 0x0ABC, 0x11};
  all.push_back(m);
  m = Model("split-mt4", "split-channel multi-touch frame of the 0x4300 line", 0x0024, 0x4305);
  m.maxPoints = 20;
  all.push_back(m);
  m = Model("split-2pt", "split-channel frame, two points (layout B)", 0x0022, 0x3105);
  m.maxPoints = 2;
  m.detail = {0x00C0FFEE, 0x1234, 0x5678, 0x9ABC, 0x22};
  all.push_back(m);
  m = Model("split-4pt", "split-channel frame, four points (layout C)", 0x0023, 0x4105);
  all.push_back(m);
  m = Model("single-a", "single-channel frame, report id 0x02 (layout A)", 0x0011, 0x2050);
  m.calibrationValid = 1;
  m.detail = {0x00ABCDEF, 0x1111, 0x2222, 0x3333, 0x44};
  all.push_back(m);
  m = Model("single-b", "single-channel frame, report id 0xFC (layout B)", 0x0012, 0x2105);
  m.calibrationValid = 1;
  m.detail = {0x00654321, 0x0A0B, 0x0C0D, 0x0E0F, 0x10};
  all.push_back(m);
  m = Model("single-c", "single-channel frame, four points (layout C)", 0x0013, 0x7000);
  all.push_back(m);
  m = Model("series", "Series01xx frame, two points (layout F)", 0x0113, 0x0201);
  const std::uint8_t modes[6] = {0x01, 0x02, 0x03, 0x00, 0x04, 0x05};
  for (int i = 0; i < 6; ++i) m.seriesMode[i] = modes[i];
  m.detail.word = 0x0102;
  m.detail.value = 0x03040506;
  all.push_back(m);
  m = Model("series-0200", "Series01xx frame of version 0x0200", 0x0113, 0x0200);
  for (int i = 0; i < 6; ++i) m.seriesMode[i] = modes[i];
  all.push_back(m);
  m = Model("f0fc", "frame with product 0xF0FC, one interface", 0xF0FC, 0x2105);
  all.push_back(m);
  m = Model("vendor2-a", "single-channel frame of the second vendor (layout A)", 0x0002, 0x2050);
  m.vendorId = 0x5A0C;
  all.push_back(m);
  m = Model("mouse", "an unrelated HID mouse", 0x7501, 0x0100);
  m.vendorId = 0x1209;
  m.otherDevice = true;
  all.push_back(m);
  return all;
}

bool ParseNumber(const std::string& text, long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  out = std::strtol(text.c_str(), &end, 0);
  return end && *end == 0;
}

}  // namespace

const std::vector<FrameModel>& Catalogue() {
  static const std::vector<FrameModel> all = BuildCatalogue();
  return all;
}

const FrameModel* FindModel(const std::string& name) {
  for (const FrameModel& m : Catalogue())
    if (m.name == name) return &m;
  return nullptr;
}

bool ApplySetting(FrameModel& m, const std::string& key, const std::string& value,
                  std::string& error) {
  long n = 0;
  auto number = [&](long lo, long hi) {
    if (!ParseNumber(value, n) || n < lo || n > hi) {
      error = "bad value for " + key + ": " + value;
      return false;
    }
    return true;
  };
  if (key == "vid") {
    if (!number(0, 0xFFFF)) return false;
    m.vendorId = static_cast<std::uint16_t>(n);
  } else if (key == "pid") {
    if (!number(0, 0xFFFF)) return false;
    m.productId = static_cast<std::uint16_t>(n);
  } else if (key == "version") {
    if (!number(0, 0xFFFF)) return false;
    m.versionNumber = static_cast<std::uint16_t>(n);
  } else if (key == "maxpoints") {
    if (!number(0, 255)) return false;
    m.maxPoints = static_cast<std::uint8_t>(n);
  } else if (key == "verdict") {
    if (value == "none") {
      m.verdict = -1;
    } else {
      if (!number(0, 255)) return false;
      m.verdict = static_cast<int>(n);
    }
  } else if (key == "target-delay") {
    if (!number(0, 60000)) return false;
    m.targetDelayMs = static_cast<std::uint32_t>(n);
  } else if (key == "acks") {
    if (!number(0, 1)) return false;
    m.acknowledges = n != 0;
  } else if (key == "calvalid") {
    if (!number(0, 255)) return false;
    m.calibrationValid = static_cast<std::uint8_t>(n);
  } else if (key == "order") {
    // Four distinct digits 1-4, e.g. 1432.
    bool seen[5] = {};
    if (value.size() != 4) return error = "order needs four digits 1-4: " + value, false;
    for (int i = 0; i < 4; ++i) {
      int d = value[i] - '0';
      if (d < 1 || d > 4 || seen[d]) return error = "order needs four digits 1-4: " + value, false;
      seen[d] = true;
      m.targetOrder[i] = static_cast<std::uint8_t>(d);
    }
  } else if (key == "modes") {
    // Six bytes, comma separated.
    std::uint8_t modes[6];
    std::size_t start = 0;
    for (int i = 0; i < 6; ++i) {
      std::size_t comma = value.find(',', start);
      if ((i < 5) != (comma != std::string::npos)) return error = "modes needs six bytes", false;
      std::string part = value.substr(start, i < 5 ? comma - start : std::string::npos);
      if (!ParseNumber(part, n) || n < 0 || n > 255) return error = "bad mode byte: " + part, false;
      modes[i] = static_cast<std::uint8_t>(n);
      start = comma + 1;
    }
    for (int i = 0; i < 6; ++i) m.seriesMode[i] = modes[i];
  } else if (key == "rbtime") {
    if (!number(0, 0x7FFFFFFF)) return false;
    m.rbTimeMs = static_cast<std::uint32_t>(n);
  } else if (key == "rbrange") {
    if (!number(0, 255)) return false;
    m.rbRange = static_cast<std::uint8_t>(n);
  } else if (key == "layout") {
    // Not none: that is the layout of a device without touch.
    for (const auto& e : kLayouts)
      if (e.layout != Layout::kNone && value == e.name) return m.layout = e.layout, true;
    error = "unknown layout: " + value;
    return false;
  } else {
    error = "unknown setting: " + key;
    return false;
  }
  return true;
}

}  // namespace framesim
