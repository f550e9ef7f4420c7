#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "input/DeviceProfile.h"
#include "input/Discovery.h"
#include "tests/support/CatalogueFrames.h"

namespace {

using platform::HidInterfaceInfo;
using testframes::Frame;
using testframes::Of;

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
    Frame frame;
    int appendedCol;  // 0: nothing
    std::uint8_t reportId;
    bool series;
  } cases[] = {
      {"split-channel", Of("split-mt"), 3, 0xFC, false},  // col01, col03, col04, col05
      {"single 0x2100", Of("single-b").Version(0x2100), 3, 0x02, false},  // col01, col03
      {"single 0x2101", Of("single-b").Version(0x2101), 3, 0xFC, false},
      {"single 0x3001", Of("single-b").Version(0x3001), 3, 0xFC, false},
      {"single 0x7000", Of("single-b").Version(0x7000), 3, 0xFC, false},
      {"series", Of("series"), 1, 0x00, true},  // col01
      {"single without col03", Of("single-a").Collections({1, 2}), 0, 0x02, false},
  };
  for (const Case& c : cases) {
    const Discovered d = Discover(testframes::Interfaces({c.frame}));
    EXPECT_EQ(d.profile.VersionNumber, c.frame.model.versionNumber) << c.what;
    EXPECT_EQ(d.profile.InputReportID, c.reportId) << c.what;
    EXPECT_EQ(d.profile.Series01xx, c.series) << c.what;
    if (c.appendedCol == 0) {
      EXPECT_EQ(d.count, 0u) << c.what;
    } else {
      ASSERT_EQ(d.count, 1u) << c.what;
      EXPECT_EQ(d.paths.path[0], c.frame.Path(c.appendedCol)) << c.what;
    }
  }
}

TEST(Discovery, SplitChannelRemembersReplyAndTouchPaths) {
  const Frame split = Of("split-mt4");
  const Discovered d = Discover(testframes::Interfaces({split}));
  EXPECT_EQ(d.paths.replyPath, split.Path(3));
  EXPECT_EQ(d.paths.touchPath, split.Path(4));
  EXPECT_EQ(d.count, 1u);  // col04 is remembered, not appended
}

// Every path and the profile are of one frame: the first with a usable
// collection, whatever else is plugged.
TEST(Discovery, OneFrameInstanceGivesEveryPathAndTheProfile) {
  const Frame split = Of("split-mt").Collections({1, 3, 4}), single = Of("single-b").Unit(8);
  const Frame other = Of("split-mt").Unit(5), seriesA = Of("series"),
              seriesB = Of("series").Unit(2);
  struct Case {
    std::vector<Frame> plugged;
    const Frame& open;
    int col;
  } cases[] = {
      {{split, Of("mouse"), single}, split, 3},
      {{single, split}, single, 3},
      {{split, other}, split, 3},
      {{Of("single-a").Collections({1, 2}), single}, single, 3},  // the first has no col03
      {{seriesA, seriesB}, seriesA, 1},
  };
  for (const Case& c : cases) {
    const Discovered d = Discover(testframes::Interfaces(c.plugged));
    ASSERT_EQ(d.count, 1u) << c.open.Path(c.col);
    EXPECT_EQ(d.paths.path[0], c.open.Path(c.col));
    EXPECT_EQ(d.profile.ProductID, c.open.model.productId);
    EXPECT_EQ(d.profile.VersionNumber, c.open.model.versionNumber);
    if (c.col == 3 && IsSplitChannel(c.open.model.versionNumber)) {
      EXPECT_EQ(d.paths.replyPath, c.open.Path(3));
      EXPECT_EQ(d.paths.touchPath, c.open.Path(4));
    }
  }
  // Windows names a collection's instance by the device's and its number;
  // Linux a collection by its node and number.
  EXPECT_EQ(FrameInstanceOf(split.Path(3)), FrameInstanceOf(split.Path(4)));
  EXPECT_NE(FrameInstanceOf(split.Path(3)), FrameInstanceOf(other.Path(3)));
  EXPECT_EQ(FrameInstanceOf("/dev/hidraw3&col03"), FrameInstanceOf("/dev/HIDRAW3&col04"));
  EXPECT_NE(FrameInstanceOf("/dev/hidraw3&col03"), FrameInstanceOf("/dev/hidraw4&col03"));
}

TEST(Discovery, KeepsOldEntriesBeyondTheCount) {
  VidPidList list;
  DefaultVidPidList(list);
  Discovered d;
  d.paths.path[1] = "old";
  const Frame split = Of("split-mt").Collections({1, 3});
  EXPECT_EQ(DiscoverTouchFrame(testframes::Interfaces({split}), list, d.profile, d.paths), 1u);
  EXPECT_EQ(d.paths.path[1], "old");  // overwritten from index 0 only
  EXPECT_EQ(DiscoverTouchFrame({}, list, d.profile, d.paths), 0u);
  EXPECT_EQ(d.paths.path[0], split.Path(3));  // entry 0 survives an empty discovery
  EXPECT_EQ(d.profile.VersionNumber, 0x3301);
}

TEST(Discovery, CollectionTestIsCaseSensitive) {
  std::vector<HidInterfaceInfo> interfaces = {
      {"\\\\?\\HID#VID_3D5E&PID_0021&COL03#x", 0x3D5E, 0x0021, 0x2105}};
  EXPECT_EQ(Discover(interfaces).count, 0u);
}

}  // namespace
