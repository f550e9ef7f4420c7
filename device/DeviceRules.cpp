#include "device/DeviceRules.h"

#include <cctype>
#include <cstring>

#include "common/AcceptedFrames.h"
#include "common/FrameClasses.h"

namespace pelladex {

bool IsSplitChannelVersion(std::uint16_t v) {
  return frame::IsSplitChannel(v);
}

bool IsSplitChannel(const _TouchDevInfo& info) {
  return info.interfaceType == TOUCHDEV_IF_HID && info.deviceKind == TOUCHDEV_KIND_STANDARD &&
         IsSplitChannelVersion(info.versionNumber);
}

bool IsHidKnownKind(const _TouchDevInfo& info) {
  return info.interfaceType == TOUCHDEV_IF_HID && info.deviceKind >= TOUCHDEV_KIND_STANDARD &&
         info.deviceKind <= TOUCHDEV_KIND_F0FC;
}

Variant VariantOf(const _TouchDevInfo& info) {
  if (info.interfaceType == TOUCHDEV_IF_COM) return Variant::kSerial;
  if (IsSplitChannel(info)) return Variant::kSplitChannel;
  if (IsHidKnownKind(info)) return Variant::kSingleChannel;
  return Variant::kNone;
}

bool HasControlCollection(const _TouchDevInfo& info) {
  return VariantOf(info) == Variant::kSingleChannel && info.deviceKind == TOUCHDEV_KIND_STANDARD &&
         info.versionNumber < 0x2FFF;
}

bool ServesControlOperations(const _TouchDevInfo& info) {
  return info.interfaceType == TOUCHDEV_IF_HID && info.deviceKind == TOUCHDEV_KIND_STANDARD &&
         info.versionNumber >= 0x2000 && info.versionNumber <= 0x2FFE;
}

std::uint32_t LogicalMaximum(const _TouchDevInfo& info) {
  switch (info.deviceKind) {
    case TOUCHDEV_KIND_STANDARD:
      return info.versionNumber <= 0x2FFF ? 4095 : 32767;
    case TOUCHDEV_KIND_SERIES01XX:
      return 32767;
    default:
      return 0;
  }
}

bool IsAcceptedFrame(std::uint16_t vid, std::uint16_t pid) {
  return frame::IsAccepted(vid, pid, frame::kInLibrary);
}

void ReplaceSameLength(char* text, const char* from, const char* to) {
  const std::size_t n = std::strlen(from);
  if (n == 0 || std::strlen(to) != n) return;
  for (char* p = std::strstr(text, from); p != nullptr; p = std::strstr(p + n, from)) {
    std::memcpy(p, to, n);
  }
}

void InstanceIdFromPath(const char* path, char (&out)[TOUCHDEV_PATH_LEN]) {
  constexpr std::size_t kPrefix = 8;   // "\\?\hid#"
  constexpr std::size_t kSuffix = 39;  // "#{...38 characters...}"
  std::memset(out, 0, sizeof out);
  const std::size_t len = std::strlen(path);
  if (len <= kPrefix + kSuffix) return;
  std::size_t n = len - kSuffix - kPrefix;
  if (n > TOUCHDEV_PATH_LEN - 1) n = TOUCHDEV_PATH_LEN - 1;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = path[kPrefix + i];
    out[i] = c == '#' ? '\\' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
}

namespace {

bool IsSeries01xxProduct(std::uint16_t pid) {
  return (pid & 0x0F00) == 0x0100;
}
bool IsStandardProduct(std::uint16_t pid) {
  return (pid & 0x0F00) == 0x0000;
}
constexpr std::uint16_t kF0fcProduct = 0xF0FC;

void CopyPath(char (&dst)[TOUCHDEV_PATH_LEN], const std::string& path) {
  const std::size_t n = path.size() < TOUCHDEV_PATH_LEN - 1 ? path.size() : TOUCHDEV_PATH_LEN - 1;
  std::memcpy(dst, path.data(), n);
  dst[n] = '\0';
}

bool Contains(const std::string& path, const char* text) {
  return path.find(text) != std::string::npos;
}

void WriteIdentity(_TouchDevInfo& rec, const platform::HidInterfaceInfo& hid) {
  rec.vendorId = hid.vendorId;
  rec.productId = hid.productId;
  rec.versionNumber = hid.versionNumber;
  rec.interfaceType = TOUCHDEV_IF_HID;
}

// An interface path as the library keeps it: at most 259 characters.
std::string Truncated(const std::string& path) {
  return path.size() < TOUCHDEV_PATH_LEN ? path : path.substr(0, TOUCHDEV_PATH_LEN - 1);
}

}  // namespace

int RunSplitChannelPass(const std::vector<platform::HidInterfaceInfo>& interfaces,
                        _TouchDevInfo (&work)[kRecordsPerPass]) {
  int count = 0;
  for (const platform::HidInterfaceInfo& hid : interfaces) {
    if (count == kRecordsPerPass) break;  // a ninth frame of the pass is ignored
    if (!IsAcceptedFrame(hid.vendorId, hid.productId)) continue;
    // 0xF0FC has bits 8..11 clear too, but it is its own kind (3) and is
    // reported by the second pass only.
    if (!IsStandardProduct(hid.productId) || hid.productId == kF0fcProduct) continue;
    _TouchDevInfo& rec = work[count];
    rec.deviceKind = TOUCHDEV_KIND_STANDARD;
    const std::string path = Truncated(hid.path);
    if (!IsSplitChannelVersion(hid.versionNumber) || !Contains(path, "col03")) continue;

    rec.reportId = 0xFC;
    CopyPath(rec.devicePath, path);
    CopyPath(rec.replyPath, path);
    CopyPath(rec.touchPath, path);
    ReplaceSameLength(rec.touchPath, "col03", "col04");
    ReplaceSameLength(rec.touchPath, "0002", "0003");
    CopyPath(rec.auxPath, path);
    ReplaceSameLength(rec.auxPath, "col03", "col05");
    ReplaceSameLength(rec.auxPath, "0002", "0004");
    InstanceIdFromPath(rec.devicePath, rec.instanceId);
    WriteIdentity(rec, hid);
    rec.detailValue = 0;
    rec.detailWord = 0;
    rec.detailPacked = 0;
    rec.reserved24 = 0;
    rec.detailWord2 = 0;
    rec.detailByte = 0;
    rec.reserved46 = 0;
    rec.reserved48 = 0;
    rec.maxPointNum = 0;
    rec.ptStatusOIMode = 0;
    rec.ptWidthDataMode = 0;
    ++count;
  }
  return count;
}

int RunOtherFramesPass(const std::vector<platform::HidInterfaceInfo>& interfaces,
                       _TouchDevInfo (&work)[kRecordsPerPass]) {
  int count = 0;
  for (const platform::HidInterfaceInfo& hid : interfaces) {
    if (count == kRecordsPerPass) break;
    if (!IsAcceptedFrame(hid.vendorId, hid.productId)) continue;
    _TouchDevInfo& rec = work[count];
    const std::string path = Truncated(hid.path);
    const std::uint16_t v = hid.versionNumber;
    bool complete = false;
    if (IsSeries01xxProduct(hid.productId)) {
      rec.deviceKind = TOUCHDEV_KIND_SERIES01XX;
      if (Contains(path, "col01")) {
        rec.reportId = 0xFE;
        CopyPath(rec.devicePath, path);
        InstanceIdFromPath(rec.devicePath, rec.instanceId);
        complete = true;
      }
    } else if (hid.productId == kF0fcProduct) {
      rec.deviceKind = TOUCHDEV_KIND_F0FC;
      rec.reportId = 0xFC;
      CopyPath(rec.devicePath, path);
      complete = true;
    } else if (IsStandardProduct(hid.productId)) {
      rec.deviceKind = TOUCHDEV_KIND_STANDARD;
      if (v < 0x2FFF && Contains(path, "col01")) CopyPath(rec.controlPath, path);
      if (Contains(path, "col03") && (v < 0x2100 || (v >= 0x2101 && v <= 0x2FFF))) {
        // 0x2100 itself and 0x3000 and above make no record here.
        rec.reportId = v < 0x2100 ? 0x02 : 0xFC;
        CopyPath(rec.devicePath, path);
        complete = true;
      }
    }
    if (complete) {
      WriteIdentity(rec, hid);
      ++count;
    }
  }
  return count;
}

short FindFrames(const std::function<std::vector<platform::HidInterfaceInfo>()>& enumerate,
                 _TouchDevInfo* list, short count) {
  if (list == nullptr) return TD_READ_NULL;
  if (count <= 0) return TD_READ_BAD_ARG;
  short written = 0;
  _TouchDevInfo work[kRecordsPerPass];
  for (int pass = 0; pass < 2; ++pass) {
    std::memset(work, 0, sizeof work);
    const std::vector<platform::HidInterfaceInfo> interfaces = enumerate();
    const int found =
        pass == 0 ? RunSplitChannelPass(interfaces, work) : RunOtherFramesPass(interfaces, work);
    // The caller's array holds `count` records: never write past it.
    for (int i = 0; i < found && written < count; ++i) {
      std::memcpy(&list[written++], &work[i], sizeof(_TouchDevInfo));
    }
  }
  return written;
}

}  // namespace pelladex
