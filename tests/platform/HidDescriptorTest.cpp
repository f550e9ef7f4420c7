// The report descriptor parser over every frame model's descriptor and over
// malformed ones, and the hidraw interface paths the discovery rules read.
#include <gtest/gtest.h>

#include "device/DeviceRules.h"
#include "input/Discovery.h"
#include "platform/HidDescriptor.h"
#include "platform/linux/HidrawNode.h"
#include "tools/framesim/ReportDescriptor.h"

using namespace platform;

namespace {

bool Parse(const std::vector<std::uint8_t>& bytes, HidDescriptorInfo& info, std::string& error) {
  // An exact-size heap copy, so a read past the end is a sanitizer fault.
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes.size() + 1]);
  std::copy(bytes.begin(), bytes.end(), copy.get());
  return ParseHidDescriptor(bytes.empty() ? nullptr : copy.get(), bytes.size(), info, error);
}

// The parsed collection of a model's collection number (1..5, 0: the only one).
const HidTopLevelCollection* ByNumber(const framesim::FrameModel& m, const HidDescriptorInfo& info,
                                      int number) {
  const auto table = framesim::DescriptorCollectionsOf(m);
  for (std::size_t i = 0; i < table.size(); ++i)
    if (table[i].number == number) return &info.collections[i];
  return nullptr;
}

bool Carries(const HidTopLevelCollection* c, std::uint8_t id) {
  if (!c) return false;
  for (const HidReportLengths& r : c->reports)
    if (r.id == id) return true;
  return false;
}

}  // namespace

TEST(HidDescriptor, EveryModelsCollectionsLengthsAndReportIds) {
  for (const framesim::FrameModel& m : framesim::Catalogue()) {
    SCOPED_TRACE(m.name);
    HidDescriptorInfo info;
    std::string error;
    ASSERT_TRUE(Parse(framesim::ReportDescriptorOf(m), info, error)) << error;
    EXPECT_EQ(info.collections.size(), framesim::DescriptorCollectionsOf(m).size());
    EXPECT_EQ(info.numbered, !m.otherDevice);
    for (const framesim::Collection& c : framesim::CollectionsOf(m)) {
      const HidTopLevelCollection* parsed = ByNumber(m, info, c.number);
      ASSERT_NE(parsed, nullptr) << "col" << c.number;
      EXPECT_EQ(parsed->inputLength, c.inputLength) << "col" << c.number;
      EXPECT_EQ(parsed->outputLength, c.outputLength) << "col" << c.number;
      EXPECT_EQ(parsed->featureLength, c.featureLength) << "col" << c.number;
    }
    if (m.otherDevice) {
      EXPECT_EQ(info.collections[0].usagePage, 0x01);
      EXPECT_EQ(info.collections[0].usage, 0x02);
      continue;
    }
    const HidTopLevelCollection* touch = ByNumber(m, info, framesim::TouchCollection(m));
    const HidTopLevelCollection* command = ByNumber(m, info, framesim::CommandCollection(m));
    EXPECT_TRUE(Carries(touch, framesim::TouchReportId(m)));
    EXPECT_TRUE(Carries(command, framesim::ReplyReportId(m)));
    EXPECT_TRUE(Carries(command, framesim::CommandReportId(m)));
    EXPECT_EQ(info.CollectionOfReport(framesim::TouchReportId(m)), touch - &info.collections[0]);
    EXPECT_EQ(command->usagePage, 0xFF00);
  }
}

TEST(HidDescriptor, HidrawPathsFeedTheDiscoveryRules) {
  // A node's collections listed as the hidraw backend lists them: the
  // discovery finds each frame's command and touch collections by their text.
  VidPidList list;
  DefaultVidPidList(list);
  for (const char* name : {"split-mt", "single-a", "series"}) {
    SCOPED_TRACE(name);
    const framesim::FrameModel& m = *framesim::FindModel(name);
    HidDescriptorInfo info;
    std::string error;
    ASSERT_TRUE(Parse(framesim::ReportDescriptorOf(m), info, error)) << error;
    std::vector<HidInterfaceInfo> interfaces;
    const std::size_t n = info.collections.size();
    for (std::size_t i = 0; i < n; ++i)
      interfaces.push_back(
          {hidraw::CollectionPath("/dev/hidraw7", i, n), m.vendorId, m.productId, m.versionNumber});
    DeviceProfile profile;
    DevicePaths paths;
    ASSERT_EQ(DiscoverTouchFrame(interfaces, list, profile, paths), 1u);
    const int command = framesim::CommandCollection(m);
    EXPECT_EQ(paths.path[0], hidraw::CollectionPath("/dev/hidraw7", command - 1, n));
    if (framesim::FrameClassOf(m) == framesim::FrameClass::kSplitChannel) {
      EXPECT_EQ(paths.touchPath, "/dev/hidraw7&col04");
    }
    std::string node;
    std::size_t index = 99;
    ASSERT_TRUE(hidraw::SplitCollectionPath(paths.path[0], node, index));
    EXPECT_EQ(node, "/dev/hidraw7");
    EXPECT_EQ(index, static_cast<std::size_t>(command - 1));
  }
  // The device library derives a split-channel frame's touch and auxiliary
  // paths from its command path by text replacement.
  const framesim::FrameModel& split = *framesim::FindModel("split-mt");
  std::vector<HidInterfaceInfo> interfaces;
  for (std::size_t i = 0; i < 5; ++i)
    interfaces.push_back({hidraw::CollectionPath("/dev/hidraw12", i, 5), split.vendorId,
                          split.productId, split.versionNumber});
  _TouchDevInfo records[pelladex::kRecordsPerPass] = {};
  ASSERT_EQ(pelladex::RunSplitChannelPass(interfaces, records), 1);
  EXPECT_STREQ(records[0].replyPath, "/dev/hidraw12&col03");
  EXPECT_STREQ(records[0].touchPath, "/dev/hidraw12&col04");
  EXPECT_STREQ(records[0].auxPath, "/dev/hidraw12&col05");

  std::string node;
  std::size_t index;
  EXPECT_FALSE(hidraw::SplitCollectionPath("/dev/hidraw1&col", node, index));
  EXPECT_FALSE(hidraw::SplitCollectionPath("/dev/hidraw1&col00", node, index));
  EXPECT_FALSE(hidraw::SplitCollectionPath("/dev/hidraw1&col3x", node, index));
}

TEST(HidDescriptor, GlobalStackLongItemsAndExtendedUsages) {
  const std::vector<std::uint8_t> bytes = {
      0x0B, 0x05, 0x00, 0x0D, 0x00,                    // usage 0x000D0005 (page in the upper half)
      0xA1, 0x01, 0x85, 0x10, 0x75, 0x08,              // collection, report id 0x10, bytes
      0xA4,                                            // push
      0x85, 0x11, 0x75, 0x10, 0x95, 0x03, 0x81, 0x02,  // id 0x11: 3 input words
      0xB4,                                            // pop: id 0x10 and bytes again
      0xFE, 0x02, 0x77, 0xAA, 0xBB,                    // a long item, skipped
      0x95, 0x07, 0xB1, 0x02,                          // id 0x10: 7 feature bytes
      0xC0};
  HidDescriptorInfo info;
  std::string error;
  ASSERT_TRUE(Parse(bytes, info, error)) << error;
  ASSERT_EQ(info.collections.size(), 1u);
  const HidTopLevelCollection& c = info.collections[0];
  EXPECT_EQ(c.usagePage, 0x0D);
  EXPECT_EQ(c.usage, 0x05);
  ASSERT_EQ(c.reports.size(), 2u);
  EXPECT_EQ(c.reports[0].id, 0x11);
  EXPECT_EQ(c.reports[0].input, 7);
  EXPECT_EQ(c.reports[1].id, 0x10);
  EXPECT_EQ(c.reports[1].feature, 8);
  EXPECT_EQ(c.inputLength, 7);
  EXPECT_EQ(c.featureLength, 8);
}

TEST(HidDescriptor, MalformedDescriptorsAreRefused) {
  const struct {
    const char* what;
    std::vector<std::uint8_t> bytes;
    const char* error;
  } kCases[] = {
      {"truncated short item", {0x06, 0x00}, "byte 0: truncated item"},
      {"truncated long item", {0xFE, 0x05, 0x00, 0x01}, "byte 0: truncated long item"},
      {"long item header cut", {0xA1, 0x01, 0xC0, 0xFE, 0x01}, "byte 3: truncated long item"},
      {"end without collection", {0xC0}, "never opened"},
      {"collection not closed", {0xA1, 0x01, 0xA1, 0x00, 0xC0}, "not closed"},
      {"report size absurd", {0x76, 0x2C, 0x01}, "report size too large"},
      {"report count absurd", {0x97, 0x00, 0x00, 0x01, 0x00}, "report count too large"},
      {"report too long",
       {0xA1, 0x01, 0x75, 0xFF, 0x96, 0x00, 0x30, 0x81, 0x02, 0xC0},
       "report too long"},
      {"report id zero", {0x85, 0x00}, "report id out of range"},
      {"pop without push", {0xB4}, "pop without push"},
      {"one id in two collections",
       {0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0, 0xA1, 0x01, 0x91, 0x02,
        0xC0},
       "two top-level collections"},
      {"unnumbered beside numbered",
       {0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0x85, 0x02, 0x81, 0x02, 0xC0},
       "without an id"},
  };
  for (const auto& c : kCases) {
    HidDescriptorInfo info;
    std::string error;
    EXPECT_FALSE(Parse(c.bytes, info, error)) << c.what;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
  }
  std::vector<std::uint8_t> deep;
  for (int i = 0; i < kMaxCollectionDepth + 1; ++i) deep.insert(deep.end(), {0xA1, 0x00});
  HidDescriptorInfo info;
  std::string error;
  EXPECT_FALSE(Parse(deep, info, error));
  EXPECT_EQ(error, "byte 32: collections nested too deep");
  std::vector<std::uint8_t> pushes(kMaxGlobalStackDepth + 1, 0xA4);
  EXPECT_FALSE(Parse(pushes, info, error));
  EXPECT_NE(error.find("push nested too deep"), std::string::npos);
}

TEST(HidDescriptor, EveryTruncationOfEveryModelStaysInBounds) {
  for (const framesim::FrameModel& m : framesim::Catalogue()) {
    const std::vector<std::uint8_t> full = framesim::ReportDescriptorOf(m);
    for (std::size_t n = 0; n < full.size(); ++n) {
      HidDescriptorInfo info;
      std::string error;
      const std::vector<std::uint8_t> cut(full.begin(), full.begin() + n);
      // A cut inside a collection is refused; one between collections is a
      // shorter, valid descriptor.
      if (!Parse(cut, info, error)) {
        EXPECT_FALSE(error.empty()) << m.name << " at " << n;
      }
    }
  }
}
