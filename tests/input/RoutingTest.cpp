#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "input/DeviceCommands.h"
#include "input/ReportRouting.h"

namespace {

using Report = std::array<std::uint8_t, 64>;
using A = ReportAction;

Report R(std::uint8_t id, std::uint8_t b1) {
  Report r{};
  r[0] = id;
  r[1] = b1;
  return r;
}

DeviceProfile Profile(std::uint16_t version, std::uint16_t pid = 0x0021) {
  DeviceProfile p;
  p.VendorID = 0x3D5E;
  p.ProductID = pid;
  p.VersionNumber = version;
  p.Series01xx = IsSeries01xxProduct(pid);
  p.InputReportID = p.Series01xx ? 0 : version < 0x2101 ? 0x02 : 0xFC;
  return p;
}

constexpr ReaderFlags kIdle{true, false, false};
constexpr ReaderFlags kCalibrating{true, true, false};
constexpr ReaderFlags kAwaiting{true, false, true};
constexpr ReaderFlags kStarting{false, false, false};

TEST(RouteReplyReport, ByFlagsInOrder) {
  EXPECT_EQ(RouteReplyReport(R(0xFB, 5).data(), kIdle), A::kIgnore);
  EXPECT_EQ(RouteReplyReport(R(0xFC, 1).data(), kIdle), A::kEnableButtons);
  EXPECT_EQ(RouteReplyReport(R(0xFC, 1).data(), kStarting), A::kEnableButtons);
  EXPECT_EQ(RouteReplyReport(R(0xFC, 5).data(), kCalibrating), A::kCalibrationReply);
  EXPECT_EQ(RouteReplyReport(R(0xFC, 5).data(), {true, true, true}), A::kCalibrationReply);
  EXPECT_EQ(RouteReplyReport(R(0xFC, 5).data(), kAwaiting), A::kReadBack);
  EXPECT_EQ(RouteReplyReport(R(0xFC, 6).data(), kAwaiting), A::kIgnore);
}

TEST(RouteTouchReport, MultiTouchTakesAnyByte1OthersOnly0xC1) {
  const DeviceProfile multi = Profile(0x3301), split = Profile(0x3105);
  EXPECT_EQ(RouteTouchReport(R(0xFB, 0x02).data(), multi, kIdle), A::kDecode);
  EXPECT_EQ(RouteTouchReport(R(0xFB, 0x02).data(), split, kIdle), A::kIgnore);
  EXPECT_EQ(RouteTouchReport(R(0xFB, 0xC1).data(), split, kIdle), A::kDecode);
  EXPECT_EQ(RouteTouchReport(R(0xFB, 0x02).data(), Profile(0x3301, 0x0113), kIdle), A::kIgnore);
  EXPECT_EQ(RouteTouchReport(R(0xFC, 0xC1).data(), multi, kIdle), A::kIgnore);
  EXPECT_EQ(RouteTouchReport(R(0xFB, 0xC1).data(), multi, kCalibrating), A::kDecode);
  EXPECT_EQ(RouteTouchReport(R(0xFB, 0xC1).data(), multi, kStarting), A::kIgnore);
}

TEST(RouteSingleReport, ModeReportsTouchesRepliesAndReadBack) {
  const DeviceProfile single = Profile(0x2105), old = Profile(0x2050),
                      series = Profile(0x0201, 0x0113);
  EXPECT_EQ(RouteSingleReport(R(0xFD, 0x0C).data(), series, kStarting), A::kSeriesMode);
  EXPECT_EQ(RouteSingleReport(R(0xFD, 0x01).data(), series, kIdle), A::kDecode);
  EXPECT_EQ(RouteSingleReport(R(0xFD, 0x01).data(), series, kStarting), A::kIgnore);
  EXPECT_EQ(RouteSingleReport(R(0xFC, 0x01).data(), single, kIdle), A::kDecode);
  EXPECT_EQ(RouteSingleReport(R(0x02, 0x01).data(), single, kIdle), A::kIgnore);
  EXPECT_EQ(RouteSingleReport(R(0x02, 0x01).data(), old, kIdle), A::kDecode);
  EXPECT_EQ(RouteSingleReport(R(0xFC, 0x01).data(), single, kCalibrating), A::kCalibrationReply);
  // While a read-back is awaited, touches are not decoded.
  EXPECT_EQ(RouteSingleReport(R(0xFC, 0x01).data(), single, kAwaiting), A::kIgnore);
  EXPECT_EQ(RouteSingleReport(R(0xFC, 0x05).data(), single, kAwaiting), A::kReadBack);
  EXPECT_EQ(RouteSingleReport(R(0xFC, 0x05).data(), single, kStarting), A::kIgnore);
}

TEST(ParseSeriesMode, Version0x0201AndUpFillsSixBytes) {
  Report r = R(0xFD, 0x0C);
  for (int i = 2; i < 8; ++i) r[i] = static_cast<std::uint8_t>(0x10 + i);
  SeriesMode old{}, current{};
  ParseSeriesMode(r.data(), 0x0200, old);
  EXPECT_EQ(old.m[2], 0x14);
  EXPECT_EQ(old.m[3], 0);
  ParseSeriesMode(r.data(), 0x0201, current);
  EXPECT_EQ(current.m[0], 0x12);
  EXPECT_EQ(current.m[5], 0x17);
}

TEST(ApplyReadBack, ValidByteDecidesWhetherTheBlockIsStored) {
  Report r = R(0xFC, 0x05);
  r[2] = 255;
  const int words[12] = {512, 512, 3583, 512, 3583, 3583, 1000, 500, 3000, 500, 3000, 3500};
  for (int i = 0; i < 12; ++i) {
    r[3 + 2 * i] = static_cast<std::uint8_t>(words[i] & 0xFF);
    r[4 + 2 * i] = static_cast<std::uint8_t>(words[i] >> 8);
  }
  CalibrationData cal;
  EXPECT_EQ(ApplyReadBack(r.data(), cal), 255);
  EXPECT_EQ(cal.measuredLen21, 3000);
  EXPECT_EQ(cal.block.referenceX[0], 512);
  r[2] = 0;
  r[3] = 0x77;
  EXPECT_EQ(ApplyReadBack(r.data(), cal), 0);
  EXPECT_EQ(cal.block.referenceX[0], 512);  // kept from the last valid block
}

TEST(DeviceCommands, BytesOfEachCommand) {
  std::uint8_t buf[kCommandSize];
  std::memset(buf, 0xAA, sizeof buf);
  FillTouchOutput(buf, false);
  EXPECT_EQ(buf[1], 0x30);
  EXPECT_EQ(buf[2], 1);
  EXPECT_EQ(buf[3], 1);
  EXPECT_EQ(buf[4], 0);
  EXPECT_EQ(buf[5], 0);
  EXPECT_EQ(buf[63], 0);
  FillTouchOutput(buf, true);
  EXPECT_EQ(buf[5], 1);

  std::memset(buf, 0xAA, sizeof buf);
  FillMouseMode(buf, true, MOUSE_MODE_AFTER_READ_BACK);
  EXPECT_EQ(buf[1], 0x06);
  EXPECT_EQ(buf[2], 1);
  EXPECT_EQ(buf[3], 1);
  EXPECT_EQ(buf[4], 0);

  // Read-calibration and series-mode keep what the buffer held.
  std::memset(buf, 0xAA, sizeof buf);
  FillReadCalibration(buf);
  EXPECT_EQ(buf[1], 0x05);
  EXPECT_EQ(buf[2], 0xAA);
  const std::uint8_t mode[5] = {1, 2, 3, 4, 5};
  FillSeriesMode(buf, mode);
  EXPECT_EQ(buf[1], 0x08);
  EXPECT_EQ(buf[2], 1);
  EXPECT_EQ(buf[6], 5);
  EXPECT_EQ(buf[7], 0xAA);
  FillSeriesQuery(buf);
  EXPECT_EQ(buf[1], 0x0C);
  EXPECT_EQ(buf[2], 0);

  EXPECT_EQ(CommandReportId(Profile(0x0201, 0x0113)), 0xFE);
  EXPECT_EQ(CommandReportId(Profile(0x2050)), 0x02);
  EXPECT_EQ(CommandReportId(Profile(0x3301)), 0xFC);
}

}  // namespace
