#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "input/DeviceProfile.h"
#include "input/Discovery.h"

namespace {

using platform::HidInterfaceInfo;

VidPidList Parse(const std::string& text) {
  VidPidList list;
  ParseVidPidList(text.c_str(), kVidPidTextBuffer, list);
  return list;
}

TEST(VidPidList, SameEntriesFromThreeSpellings) {
  for (const char* text : {"3D5E0013 5A0C0002", "3d5e-0013,5a0c-0002", "3D5E00135A0C0002",
                           "x3D5E0013\n\t5A0C0002 12"}) {
    const VidPidList list = Parse(text);
    ASSERT_EQ(list.count, 2u) << text;
    EXPECT_EQ(list.entry[0], 0x3D5E0013u) << text;
    EXPECT_EQ(list.entry[1], 0x5A0C0002u) << text;
  }
}

TEST(VidPidList, StopsAtTheBufferAndAt1024Entries) {
  std::string text;
  for (int i = 0; i < 1030; ++i) text += "3D5E0013 ";
  EXPECT_EQ(Parse(text).count, 1024u);
  // Only the first 9216 characters are scanned: 1024 groups of nine.
  VidPidList list;
  const std::string cut(9216 - 4, 'z');
  const std::string tail = cut + "3D5E0013";
  ParseVidPidList(tail.c_str(), kVidPidTextBuffer, list);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(Parse("").count, 0u);
  EXPECT_EQ(Parse("3D5E001").count, 0u);
}

TEST(VidPidList, DefaultHas134EntriesWrittenAs1205Characters) {
  VidPidList list;
  DefaultVidPidList(list);
  ASSERT_EQ(list.count, 134u);
  EXPECT_EQ(list.entry[0], 0x5A0C0002u);
  EXPECT_EQ(list.entry[1], 0x3D5E0001u);
  EXPECT_EQ(list.entry[4], 0x3D5E0010u);
  EXPECT_EQ(list.entry[51], 0x3D5E003Fu);
  EXPECT_EQ(list.entry[52], 0x3D5E0100u);
  EXPECT_EQ(list.entry[131], 0x3D5E014Fu);
  EXPECT_EQ(list.entry[132], 0x3D5E01FFu);
  EXPECT_EQ(list.entry[133], 0x00000400u);
  const std::string text = FormatVidPidList(list);
  EXPECT_EQ(text.size(), 1205u);
  EXPECT_EQ(text.substr(0, 18), "5A0C0002 3D5E0001 ");
  EXPECT_EQ(text.substr(text.size() - 9), " 00000400");
}

TEST(MatchVidPid, SetsSeries01xxFromTheProductId) {
  VidPidList list;
  DefaultVidPidList(list);
  DeviceProfile profile;
  EXPECT_TRUE(MatchVidPid(list, 0x3D5E, 0x0113, profile));
  EXPECT_TRUE(profile.Series01xx);
  EXPECT_TRUE(MatchVidPid(list, 0x3D5E, 0x0021, profile));
  EXPECT_FALSE(profile.Series01xx);
  profile.Series01xx = true;
  EXPECT_FALSE(MatchVidPid(list, 0x1234, 0x0113, profile));
  EXPECT_TRUE(profile.Series01xx);  // unchanged without a match
}

// Interfaces as the system lists them: one per top-level collection.
std::string Path(std::uint16_t pid, int col, int n = 7) {
  char buf[160];
  std::snprintf(buf, sizeof buf,
                "\\\\?\\hid#vid_3d5e&pid_%04x&col%02d#%d&2a8f1c3&0&%04d#"
                "{4d1e55b2-f16f-11cf-88cb-001111000030}",
                pid, col, n, col - 1);
  return buf;
}

std::vector<HidInterfaceInfo> Frame(std::uint16_t pid, std::uint16_t version,
                                    std::initializer_list<int> cols, int n = 7) {
  std::vector<HidInterfaceInfo> list;
  for (int col : cols) list.push_back({Path(pid, col, n), 0x3D5E, pid, version});
  return list;
}

struct Discovered {
  DeviceProfile profile;
  DevicePaths paths;
  std::size_t count = 0;
};

Discovered Discover(const std::vector<HidInterfaceInfo>& interfaces) {
  VidPidList list;
  DefaultVidPidList(list);
  Discovered d;
  d.count = DiscoverTouchFrame(interfaces, list, d.profile, d.paths);
  return d;
}

TEST(Discovery, CollectionsAndReportIdsPerClass) {
  struct Case {
    const char* what;
    std::uint16_t pid, version;
    std::initializer_list<int> cols;
    int appendedCol;  // 0: nothing
    std::uint8_t reportId;
    bool series;
  } cases[] = {
      {"split-channel", 0x0021, 0x3301, {1, 3, 4, 5}, 3, 0xFC, false},
      {"single 0x2100", 0x0021, 0x2100, {1, 3}, 3, 0x02, false},
      {"single 0x2101", 0x0021, 0x2101, {1, 3}, 3, 0xFC, false},
      {"single 0x3001", 0x0021, 0x3001, {1, 3}, 3, 0xFC, false},
      {"single 0x7000", 0x0021, 0x7000, {1, 3}, 3, 0xFC, false},
      {"series", 0x0113, 0x0201, {1}, 1, 0x00, true},
      {"single without col03", 0x0021, 0x2050, {1, 2}, 0, 0x02, false},
  };
  for (const Case& c : cases) {
    const Discovered d = Discover(Frame(c.pid, c.version, c.cols));
    EXPECT_EQ(d.profile.VersionNumber, c.version) << c.what;
    EXPECT_EQ(d.profile.InputReportID, c.reportId) << c.what;
    EXPECT_EQ(d.profile.Series01xx, c.series) << c.what;
    if (c.appendedCol == 0) {
      EXPECT_EQ(d.count, 0u) << c.what;
    } else {
      ASSERT_EQ(d.count, 1u) << c.what;
      EXPECT_EQ(d.paths.path[0], Path(c.pid, c.appendedCol)) << c.what;
    }
  }
}

TEST(Discovery, SplitChannelRemembersReplyAndTouchPaths) {
  const Discovered d = Discover(Frame(0x0021, 0x4301, {1, 3, 4, 5}));
  EXPECT_EQ(d.paths.replyPath, Path(0x0021, 3));
  EXPECT_EQ(d.paths.touchPath, Path(0x0021, 4));
  EXPECT_EQ(d.count, 1u);  // col04 is remembered, not appended
}

TEST(Discovery, UnlistedDevicesAreSkippedAndTheLastListedSetsTheProfile) {
  std::vector<HidInterfaceInfo> interfaces = Frame(0x0021, 0x3301, {1, 3, 4});
  interfaces.push_back({"\\\\?\\hid#vid_046d&pid_c077#7&1&0&0000#{x}", 0x046D, 0xC077, 0x7200});
  auto second = Frame(0x0012, 0x2105, {1, 3}, 8);
  interfaces.insert(interfaces.end(), second.begin(), second.end());
  const Discovered d = Discover(interfaces);
  // Both frames' col03 are listed in order; the profile is the second frame's
  // (and its report id), while entry 0 is the first frame's reply collection.
  ASSERT_EQ(d.count, 2u);
  EXPECT_EQ(d.paths.path[0], Path(0x0021, 3));
  EXPECT_EQ(d.paths.path[1], Path(0x0012, 3, 8));
  EXPECT_EQ(d.profile.ProductID, 0x0012);
  EXPECT_EQ(d.profile.VersionNumber, 0x2105);
}

TEST(Discovery, StopsAfterTenPathsAndKeepsOldEntriesBeyondTheCount) {
  std::vector<HidInterfaceInfo> interfaces;
  for (int n = 0; n < 12; ++n) {
    auto f = Frame(0x0021, 0x2105, {3}, n);
    interfaces.insert(interfaces.end(), f.begin(), f.end());
  }
  Discovered d = Discover(interfaces);
  EXPECT_EQ(d.count, 10u);
  EXPECT_EQ(d.paths.path[9], Path(0x0021, 3, 9));

  VidPidList list;
  DefaultVidPidList(list);
  EXPECT_EQ(DiscoverTouchFrame(Frame(0x0021, 0x3301, {1, 3}), list, d.profile, d.paths), 1u);
  EXPECT_EQ(d.paths.path[1], Path(0x0021, 3, 1));  // overwritten from index 0 only
  EXPECT_EQ(DiscoverTouchFrame({}, list, d.profile, d.paths), 0u);
  EXPECT_EQ(d.paths.path[0], Path(0x0021, 3));  // entry 0 survives an empty discovery
  EXPECT_EQ(d.profile.VersionNumber, 0x3301);
}

TEST(Discovery, CollectionTestIsCaseSensitive) {
  std::vector<HidInterfaceInfo> interfaces = {
      {"\\\\?\\HID#VID_3D5E&PID_0021&COL03#x", 0x3D5E, 0x0021, 0x2105}};
  EXPECT_EQ(Discover(interfaces).count, 0u);
}

}  // namespace
