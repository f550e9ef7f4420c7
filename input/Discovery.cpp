#include "input/Discovery.h"

#include <cctype>

namespace {

bool Contains(const std::string& path, const char* part) {
  return path.find(part) != std::string::npos;
}

// Whether `info`'s path is one discovery appends for its class.
bool Appended(const platform::HidInterfaceInfo& info, const DeviceProfile& profile) {
  if (profile.Series01xx) return Contains(info.path, "col01");
  return Contains(info.path, "col03");
}

}  // namespace

std::string FrameInstanceOf(const std::string& path) {
  std::string lower(path);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // "...&colNN" names a collection of the device: the part before it is
  // the device (a node on Linux; vendor and product on Windows).
  const auto dropCollection = [](std::string& part) {
    const std::size_t at = part.find("&col");
    if (at == std::string::npos) return false;
    std::size_t end = at + 4;
    while (end < part.size() && std::isdigit(static_cast<unsigned char>(part[end]))) ++end;
    part.erase(at, end - at);
    return true;
  };
  const std::size_t first = lower.find('#');
  const std::size_t second = first == std::string::npos ? first : lower.find('#', first + 1);
  const std::size_t third = second == std::string::npos ? second : lower.find('#', second + 1);
  if (third == std::string::npos) {
    dropCollection(lower);
    return lower;
  }
  // "\\?\hid#vid_v&pid_p&col03#7&2a8f1c3&0&0002#{class}": the collections
  // of one device share the instance but for its last "&NNNN".
  std::string device = lower.substr(first + 1, second - first - 1);
  std::string instance = lower.substr(second + 1, third - second - 1);
  if (dropCollection(device)) {
    const std::size_t amp = instance.rfind('&');
    if (amp != std::string::npos) instance.erase(amp);
  }
  return device + "#" + instance;
}

std::size_t DiscoverTouchFrame(const std::vector<platform::HidInterfaceInfo>& interfaces,
                               const VidPidList& list, DeviceProfile& profile, DevicePaths& paths) {
  // Every handle and the profile come from one frame: the one whose
  // interface is appended first (entry 0, the one written to).
  // A frame without such an interface opens nothing; its profile is still
  // set (of the first listed device).
  std::string chosen, firstListed;
  for (const platform::HidInterfaceInfo& info : interfaces) {
    DeviceProfile scratch = profile;
    if (!MatchVidPid(list, info.vendorId, info.productId, scratch)) continue;
    if (firstListed.empty()) firstListed = FrameInstanceOf(info.path);
    if (Appended(info, scratch)) {
      chosen = FrameInstanceOf(info.path);
      break;
    }
  }
  if (chosen.empty()) chosen = firstListed;
  std::size_t appended = 0;
  const auto append = [&](const std::string& path) { paths.path[appended++] = path; };
  for (const platform::HidInterfaceInfo& info : interfaces) {
    if (chosen.empty() || FrameInstanceOf(info.path) != chosen) continue;
    if (!MatchVidPid(list, info.vendorId, info.productId, profile)) continue;
    profile.VendorID = info.vendorId;
    profile.ProductID = info.productId;
    profile.VersionNumber = info.versionNumber;
    const std::uint16_t v = info.versionNumber;
    const std::string& path = info.path;
    if (profile.Series01xx) {
      // The input report id stays as it was.
      if (Contains(path, "col01")) append(path);
    } else if (IsSplitChannel(v)) {
      profile.InputReportID = frame::InputReportIdFor(v);
      if (Contains(path, "col03")) {
        append(path);
        paths.replyPath = path;
      }
      if (Contains(path, "col04")) paths.touchPath = path;
    } else {
      profile.InputReportID = frame::InputReportIdFor(v);
      if (Contains(path, "col03")) append(path);
    }
    if (appended == kMaxDevicePaths) break;
  }
  paths.count = appended;
  return appended;
}

bool SamePathIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}
