// Enumeration rules and query bytes of the device library, over frames
// described as data.
#include <gtest/gtest.h>

#include <cstring>

#include "device/DeviceRules.h"
#include "device/Queries.h"
#include "tests/support/CatalogueFrames.h"

using namespace pelladex;
using testframes::Frame;
using testframes::Of;

namespace {

std::vector<_TouchDevInfo> Find(const std::vector<Frame>& frames, short count = 16) {
  std::vector<_TouchDevInfo> out(count > 0 ? count + 2 : 2);
  std::memset(out.data(), 0xEE, out.size() * sizeof(_TouchDevInfo));  // guard pattern
  const auto list = testframes::Interfaces(frames);
  const short n = FindFrames([&] { return list; }, out.data(), count);
  EXPECT_GE(n, 0);
  // Records past the count returned are never touched.
  for (std::size_t i = n; i < out.size(); ++i) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&out[i]);
    for (std::size_t b = 0; b < sizeof(_TouchDevInfo); ++b) {
      if (bytes[b] != 0xEE) {
        ADD_FAILURE() << "record " << i << " byte " << b << " written";
        break;
      }
    }
  }
  out.resize(n);
  return out;
}

// Product, version, collections: 0021, 3301, col01/03/04/05; 0011, 2050,
// col01/03; 0113, 0201, col01/02.
const Frame kSplit = Of("split-mt");
const Frame kStdLow = Of("single-a");
const Frame kSeries = Of("series").Collections({1, 2});

}  // namespace

TEST(Variant, SplitChannelBoundsAndKinds) {
  _TouchDevInfo r{};
  r.interfaceType = TOUCHDEV_IF_HID;
  r.deviceKind = TOUCHDEV_KIND_STANDARD;
  for (auto [v, split] : {std::pair{0x3001, false},
                          {0x3002, true},
                          {0x3FFF, true},
                          {0x4001, false},
                          {0x4002, true},
                          {0x6FFF, true},
                          {0x7000, false},
                          {0x2FFF, false}}) {
    r.versionNumber = static_cast<std::uint16_t>(v);
    EXPECT_EQ(VariantOf(r) == Variant::kSplitChannel, split) << std::hex << v;
  }
  r.versionNumber = 0x3300;
  r.deviceKind = TOUCHDEV_KIND_SERIES01XX;
  EXPECT_EQ(VariantOf(r), Variant::kSingleChannel);
  r.deviceKind = 0;
  EXPECT_EQ(VariantOf(r), Variant::kNone);
  r.interfaceType = TOUCHDEV_IF_COM;
  EXPECT_EQ(VariantOf(r), Variant::kSerial);
}

TEST(Variant, LogicalMaximumByKindAndVersion) {
  _TouchDevInfo r{};
  r.deviceKind = TOUCHDEV_KIND_STANDARD;
  r.versionNumber = 0x2FFF;
  EXPECT_EQ(LogicalMaximum(r), 4095u);
  r.versionNumber = 0x3000;
  EXPECT_EQ(LogicalMaximum(r), 32767u);
  r.deviceKind = TOUCHDEV_KIND_SERIES01XX;
  r.versionNumber = 0x0100;
  EXPECT_EQ(LogicalMaximum(r), 32767u);
  r.deviceKind = TOUCHDEV_KIND_F0FC;
  EXPECT_EQ(LogicalMaximum(r), 0u);
}

TEST(AcceptedFrames, ExactlyTheListedPairs) {
  int accepted = 0;
  for (std::uint32_t pid = 0; pid <= 0xFFFF; ++pid) {
    accepted += IsAcceptedFrame(0x3D5E, static_cast<std::uint16_t>(pid));
    accepted += IsAcceptedFrame(0x5A0C, static_cast<std::uint16_t>(pid));
  }
  EXPECT_EQ(accepted, 134);
  EXPECT_FALSE(IsAcceptedFrame(0x0000, 0x0400));
  EXPECT_FALSE(IsAcceptedFrame(0x3D5E, 0x0150));
  EXPECT_TRUE(IsAcceptedFrame(0x3D5E, 0x01FF));
}

TEST(Paths, ReplacementIsLeftToRightAndNonOverlapping) {
  char text[64] = "col03-00002-0002col03";
  ReplaceSameLength(text, "0002", "0003");
  EXPECT_STREQ(text, "col03-00003-0003col03");
  ReplaceSameLength(text, "col03", "col04");
  EXPECT_STREQ(text, "col04-00003-0003col04");
  char same[16] = "aaaa";
  ReplaceSameLength(same, "aa", "ab");
  EXPECT_STREQ(same, "abab");
  ReplaceSameLength(same, "ab", "abc");  // only same-length replacements
  EXPECT_STREQ(same, "abab");
}

TEST(Paths, InstanceIdDropsPrefixAndClassSuffix) {
  char id[TOUCHDEV_PATH_LEN];
  InstanceIdFromPath(kSplit.Path(3).c_str(), id);
  EXPECT_STREQ(id, "VID_3D5E&PID_0021&COL03\\7&2A8F1C3&0&0002");
  const std::string shortest(47, 'x');
  InstanceIdFromPath(shortest.c_str(), id);
  EXPECT_STREQ(id, "");
  InstanceIdFromPath((shortest + "q").c_str(), id);
  EXPECT_STREQ(id, "X");
  const std::string longest =
      "\\\\?\\hid#" + std::string(400, 'a') + "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  InstanceIdFromPath(longest.c_str(), id);
  EXPECT_EQ(std::strlen(id), 259u);
}

TEST(FindFrames, RefusesNullListAndZeroCountWithoutEnumerating) {
  int walks = 0;
  auto enumerate = [&] {
    ++walks;
    return std::vector<platform::HidInterfaceInfo>{};
  };
  _TouchDevInfo one;
  EXPECT_EQ(FindFrames(enumerate, nullptr, 4), -5);
  EXPECT_EQ(FindFrames(enumerate, &one, 0), -4);
  EXPECT_EQ(FindFrames(enumerate, &one, -1), -4);
  EXPECT_EQ(walks, 0);
  EXPECT_EQ(FindFrames(enumerate, &one, 1), 0);
  EXPECT_EQ(walks, 2);  // one walk per pass
}

TEST(FindFrames, SplitChannelRecord) {
  const auto found = Find({kSplit});
  ASSERT_EQ(found.size(), 1u);
  const _TouchDevInfo& r = found[0];
  EXPECT_EQ(r.deviceKind, TOUCHDEV_KIND_STANDARD);
  EXPECT_EQ(r.interfaceType, TOUCHDEV_IF_HID);
  EXPECT_EQ(r.vendorId, 0x3D5E);
  EXPECT_EQ(r.productId, 0x0021);
  EXPECT_EQ(r.versionNumber, 0x3301);
  EXPECT_EQ(r.reportId, 0xFC);
  EXPECT_EQ(r.devicePath, kSplit.Path(3));
  EXPECT_EQ(r.replyPath, kSplit.Path(3));
  EXPECT_EQ(r.touchPath, kSplit.Path(4));
  EXPECT_EQ(r.auxPath, kSplit.Path(5));
  EXPECT_STREQ(r.instanceId, "VID_3D5E&PID_0021&COL03\\7&2A8F1C3&0&0002");
  EXPECT_STREQ(r.controlPath, "");
  EXPECT_EQ(r.maxPointNum, 0);
}

TEST(FindFrames, ReportIdAndVersionWindowsOfStandardFrames) {
  struct Case {
    std::uint16_t version;
    int records;
    std::uint8_t reportId;
  } cases[] = {{0x20FF, 1, 0x02}, {0x2100, 0, 0},    {0x2101, 1, 0xFC}, {0x2FFF, 1, 0xFC},
               {0x3000, 0, 0},    {0x3001, 0, 0},    {0x3002, 1, 0xFC}, {0x4001, 0, 0},
               {0x4002, 1, 0xFC}, {0x6FFF, 1, 0xFC}, {0x7000, 0, 0}};
  for (const Case& c : cases) {
    const auto found = Find({Of("split-mt").Version(c.version).Collections({1, 3, 4})});
    ASSERT_EQ(found.size(), static_cast<std::size_t>(c.records)) << std::hex << c.version;
    if (c.records) {
      EXPECT_EQ(found[0].reportId, c.reportId) << std::hex << c.version;
    }
  }
}

TEST(FindFrames, ControlPathComesFromAnEarlierCol01) {
  // col01 listed before col03: the record keeps the control path.
  auto found = Find({kStdLow});
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].controlPath, kStdLow.Path(1));
  EXPECT_EQ(found[0].devicePath, kStdLow.Path(3));
  EXPECT_STREQ(found[0].instanceId, "");

  // col03 before col01: no control path.
  found = Find({Of("single-a").Collections({3, 1})});
  ASSERT_EQ(found.size(), 1u);
  EXPECT_STREQ(found[0].controlPath, "");

  // Not below 0x2FFF: col01 is not a control collection.
  found = Find({Of("single-a").Version(0x2FFF)});
  ASSERT_EQ(found.size(), 1u);
  EXPECT_STREQ(found[0].controlPath, "");
}

TEST(FindFrames, Series01xxOnlyThroughCol01AndF0fcWhateverTheVersion) {
  for (std::uint16_t v : {0x0001, 0x0200, 0x3300, 0xFFFF}) {
    const Frame series = Of("series").Version(v).Collections({2, 1, 3});
    const auto found = Find({series, Of("f0fc").Version(v)});
    ASSERT_EQ(found.size(), 2u) << std::hex << v;
    EXPECT_EQ(found[0].deviceKind, TOUCHDEV_KIND_SERIES01XX);
    EXPECT_EQ(found[0].reportId, 0xFE);
    EXPECT_EQ(found[0].devicePath, series.Path(1));
    EXPECT_STREQ(found[0].instanceId, "VID_3D5E&PID_0113&COL01\\7&2A8F1C3&0&0000");
    EXPECT_EQ(found[1].deviceKind, TOUCHDEV_KIND_F0FC);
    EXPECT_EQ(found[1].reportId, 0xFC);
    EXPECT_EQ(found[1].productId, 0xF0FC);
  }
}

TEST(FindFrames, SplitChannelFramesComeFirstAndOtherVendorsAreIgnored) {
  const auto found = Find({kSeries, Of("split-mt").Vendor(0x1234).Collections({3}), kStdLow, kSplit,
                           Of("vendor2-a").Collections({3})});
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].productId, 0x0021);
  EXPECT_EQ(found[1].productId, 0x0113);
  EXPECT_EQ(found[2].productId, 0x0011);
  EXPECT_EQ(found[3].vendorId, 0x5A0C);
}

TEST(FindFrames, EightRecordsAPassAndTheCountIsHonoured) {
  std::vector<Frame> frames;
  for (int unit = 0; unit < 9; ++unit) {
    frames.push_back(Of("split-mt").Collections({3, 4}).Unit(unit));
    frames.push_back(Of("single-a").Collections({3}).Unit(unit));
  }
  auto found = Find(frames);
  ASSERT_EQ(found.size(), 16u);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(found[i].productId, 0x0021);
    EXPECT_EQ(found[8 + i].productId, 0x0011);
    EXPECT_EQ(found[i].devicePath, frames[2 * i].Path(3));
  }
  // A smaller array gets exactly what fits, split-channel frames first.
  found = Find(frames, 3);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[2].productId, 0x0021);
  found = Find({kSplit, kStdLow, kSeries}, 2);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[1].productId, 0x0011);
}

// --- query bytes ----------------------------------------------------------

namespace {

_TouchDevData Reply(std::initializer_list<std::pair<int, std::uint8_t>> bytes) {
  _TouchDevData r{};
  for (auto [at, value] : bytes) r.report[at] = value;
  return r;
}

_TouchDevInfo Record(std::uint32_t kind, std::uint16_t version) {
  _TouchDevInfo r{};
  r.interfaceType = TOUCHDEV_IF_HID;
  r.deviceKind = kind;
  r.versionNumber = version;
  return r;
}

// A standard detail reply carrying distinct bytes everywhere the fields may come from.
_TouchDevData DetailReply() {
  _TouchDevData r{};
  for (int i = 0; i < 64; ++i) r.report[i] = static_cast<std::uint8_t>(0x10 + i);
  r.report[1] = 0xA3;
  r.report[2] = 0x80;
  return r;
}

}  // namespace

TEST(Queries, CommandsWaitAndCarryTheirCode) {
  const _TouchDevData detail = StandardDetailCommand();
  EXPECT_EQ(detail.waitReply, 1);
  EXPECT_EQ(detail.report[1], 0xA3);
  EXPECT_EQ(detail.report[2], 0x00);
  EXPECT_EQ(SeriesDetailCommand(kSeriesDetailValue).report[1], 0x0E);
  EXPECT_EQ(MaxPointsCommand().report[1], 0x08);
  EXPECT_EQ(SeriesModeReadCommand().report[1], 0x0C);
  const std::uint8_t mode[5] = {1, 2, 3, 4, 5};
  const _TouchDevData v200 = SeriesModeWriteCommand(Record(2, 0x200), mode);
  const _TouchDevData v201 = SeriesModeWriteCommand(Record(2, 0x201), mode);
  const std::uint8_t want200[8] = {0, 0x08, 1, 2, 3, 0, 0, 0};
  const std::uint8_t want201[8] = {0, 0x08, 1, 2, 3, 4, 5, 0};
  EXPECT_EQ(std::memcmp(v200.report, want200, 8), 0);
  EXPECT_EQ(std::memcmp(v201.report, want201, 8), 0);
  for (int i = 8; i < 64; ++i) EXPECT_EQ(v201.report[i], 0);
}

TEST(Queries, StandardDetailFieldsByVariantAndVersion) {
  // Split-channel, and single-channel below 0x2030: value at 8..11, word at 5..6.
  for (std::uint16_t v : {0x2018, 0x202F, 0x3302}) {
    _TouchDevInfo r = Record(1, v);
    ASSERT_TRUE(ApplyStandardDetail(r, DetailReply()));
    EXPECT_EQ(r.detailValue, 0x1B1A1918u) << std::hex << v;
    EXPECT_EQ(r.detailWord, 0x1615);
  }
  // Single-channel from 0x2030: 24-bit value at 5..7, word at 9..10.
  _TouchDevInfo r = Record(1, 0x2030);
  ASSERT_TRUE(ApplyStandardDetail(r, DetailReply()));
  EXPECT_EQ(r.detailValue, 0x171615u);
  EXPECT_EQ(r.detailWord, 0x1A19);
  EXPECT_EQ(r.detailWord2, 0x1D1C);
  // 0x1E high nibble, 0x1F, 0x20 low nibble.
  EXPECT_EQ(r.detailPacked, 0x01F1);
  EXPECT_EQ(r.detailByte, 0x21);
}

TEST(Queries, RejectedStandardDetailZeroesTheFiveFields) {
  for (auto bad : {Reply({{1, 0xA3}, {2, 0x81}}), Reply({{1, 0xA2}, {2, 0x80}}), Reply({})}) {
    _TouchDevInfo r = Record(1, 0x2040);
    r.detailValue = r.detailWord = r.detailWord2 = r.detailPacked = r.detailByte = 7;
    r.maxPointNum = 7;
    EXPECT_FALSE(ApplyStandardDetail(r, bad));
    EXPECT_EQ(r.detailValue + r.detailWord + r.detailWord2 + r.detailPacked + r.detailByte, 0u);
    EXPECT_EQ(r.maxPointNum, 7);
  }
  EXPECT_FALSE(StandardDetailApplies(Record(1, 0x2017)));
  EXPECT_TRUE(StandardDetailApplies(Record(1, 0x2018)));
}

TEST(Queries, SeriesDetailAcceptsOnlyItsCodeWithByte4Clear) {
  _TouchDevInfo r = Record(2, 0x200);
  EXPECT_TRUE(ApplySeriesDetail(r, kSeriesDetailWord, Reply({{1, 0x0D}, {5, 0x34}, {6, 0x12}})));
  EXPECT_EQ(r.detailWord, 0x1234);
  EXPECT_TRUE(ApplySeriesDetail(r, kSeriesDetailValue,
                                Reply({{1, 0x0E}, {5, 0x78}, {6, 0x56}, {7, 0x34}, {8, 0x12}})));
  EXPECT_EQ(r.detailValue, 0x12345678u);
  // Rejected replies zero only the field they were meant to fill.
  EXPECT_FALSE(ApplySeriesDetail(r, kSeriesDetailValue, Reply({{1, 0x0E}, {4, 1}, {5, 9}})));
  EXPECT_EQ(r.detailValue, 0u);
  EXPECT_EQ(r.detailWord, 0x1234);
  EXPECT_FALSE(ApplySeriesDetail(r, kSeriesDetailWord, Reply({{1, 0x0E}, {5, 9}})));
  EXPECT_EQ(r.detailWord, 0);
  EXPECT_FALSE(SeriesQueriesApply(Record(2, 0x1FF)));
  EXPECT_FALSE(SeriesQueriesApply(Record(1, 0x200)));
}

TEST(Queries, MaxPointsVersionWindowsAndReply) {
  for (auto [v, applies] : {std::pair{0x314F, false},
                            {0x3150, true},
                            {0x31FF, true},
                            {0x3200, false},
                            {0x32FF, false},
                            {0x3300, true},
                            {0x3FFF, true},
                            {0x4150, true},
                            {0x4200, false},
                            {0x4300, true},
                            {0x6FFF, true},
                            {0x7000, false}}) {
    EXPECT_EQ(MaxPointsApplies(Record(1, static_cast<std::uint16_t>(v))), applies) << std::hex << v;
  }
  EXPECT_FALSE(MaxPointsApplies(Record(2, 0x3300)));
  const _TouchDevData good = Reply({{0, 0xFC}, {1, 0x08}, {2, 0x02}, {3, 0x01}, {5, 10}});
  _TouchDevInfo r = Record(1, 0x3300);
  r.maxPointNum = 2;
  EXPECT_FALSE(ApplyMaxPoints(r, TD_ERR_REPLY_TIMEOUT, good));
  for (int at : {0, 1, 2, 3}) {
    _TouchDevData bad = good;
    bad.report[at] ^= 0x40;
    EXPECT_FALSE(ApplyMaxPoints(r, 1, bad)) << at;
  }
  EXPECT_EQ(r.maxPointNum, 2);
  EXPECT_TRUE(ApplyMaxPoints(r, 1, good));
  EXPECT_EQ(r.maxPointNum, 10);
}

TEST(Queries, SeriesModeReadStoresThreeOrSixBytes) {
  const _TouchDevData reply =
      Reply({{0, 0xFD}, {1, 0x0C}, {2, 1}, {3, 2}, {4, 3}, {5, 4}, {6, 5}, {7, 6}});
  std::uint8_t status[6] = {9, 9, 9, 9, 9, 9};
  EXPECT_TRUE(ApplySeriesModeRead(Record(2, 0x200), status, 1, reply));
  const std::uint8_t three[6] = {1, 2, 3, 9, 9, 9};
  EXPECT_EQ(std::memcmp(status, three, 6), 0);
  EXPECT_TRUE(ApplySeriesModeRead(Record(2, 0x201), status, 1, reply));
  const std::uint8_t six[6] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(std::memcmp(status, six, 6), 0);
  std::uint8_t untouched[6] = {};
  EXPECT_FALSE(ApplySeriesModeRead(Record(2, 0x201), untouched, TD_ERR_REPLY_TIMEOUT, reply));
  EXPECT_FALSE(ApplySeriesModeRead(Record(2, 0x201), untouched, 1, Reply({{0, 0xFE}, {1, 0x0C}})));
  EXPECT_EQ(untouched[0], 0);
}

TEST(Queries, SeriesModeWriteEchoMustMatchAllFiveValues) {
  const std::uint8_t mode[5] = {1, 2, 3, 4, 5};
  const _TouchDevData echo = Reply({{0, 0xFD}, {1, 0x08}, {2, 1}, {3, 2}, {4, 3}, {5, 4}, {6, 5}});
  EXPECT_TRUE(SeriesModeWriteAccepted(1, echo, mode));
  EXPECT_FALSE(SeriesModeWriteAccepted(0, echo, mode));
  for (int at : {0, 1, 2, 6, 7}) {
    _TouchDevData bad = echo;
    bad.report[at] ^= 0x01;
    EXPECT_FALSE(SeriesModeWriteAccepted(1, bad, mode)) << at;
  }
}
