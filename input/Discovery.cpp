#include "input/Discovery.h"

#include <cctype>

namespace {

bool Contains(const std::string& path, const char* part) {
  return path.find(part) != std::string::npos;
}

}  // namespace

std::size_t DiscoverTouchFrame(const std::vector<platform::HidInterfaceInfo>& interfaces,
                               const VidPidList& list, DeviceProfile& profile, DevicePaths& paths) {
  std::size_t appended = 0;
  const auto append = [&](const std::string& path) { paths.path[appended++] = path; };
  for (const platform::HidInterfaceInfo& info : interfaces) {
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
