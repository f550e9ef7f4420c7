#include "device/Queries.h"

#include <cstring>

#include "device/DeviceRules.h"

namespace pelladex {
namespace {

_TouchDevData Command(std::uint8_t code) {
  _TouchDevData cmd;
  std::memset(&cmd, 0, sizeof cmd);
  cmd.waitReply = 1;
  cmd.report[1] = code;
  return cmd;
}

std::uint16_t U16(const std::uint8_t* r, int at) {
  return static_cast<std::uint16_t>(r[at] | r[at + 1] << 8);
}

std::uint32_t U32(const std::uint8_t* r, int at) {
  return static_cast<std::uint32_t>(r[at]) | static_cast<std::uint32_t>(r[at + 1]) << 8 |
         static_cast<std::uint32_t>(r[at + 2]) << 16 | static_cast<std::uint32_t>(r[at + 3]) << 24;
}

}  // namespace

bool StandardDetailApplies(const _TouchDevInfo& info) {
  return info.deviceKind == TOUCHDEV_KIND_STANDARD && info.versionNumber >= 0x2018;
}

_TouchDevData StandardDetailCommand() {
  _TouchDevData cmd = Command(0xA3);
  cmd.report[2] = 0x00;
  return cmd;
}

bool ApplyStandardDetail(_TouchDevInfo& info, const _TouchDevData& reply) {
  const std::uint8_t* r = reply.report;
  if (r[1] != 0xA3 || r[2] != 0x80) {
    info.detailValue = 0;
    info.detailWord = 0;
    info.detailWord2 = 0;
    info.detailPacked = 0;
    info.detailByte = 0;
    return false;
  }
  // Single-channel firmware from 0x2030 on moved the two leading fields.
  if (!IsSplitChannel(info) && info.versionNumber >= 0x2030) {
    info.detailValue = static_cast<std::uint32_t>(r[5]) | static_cast<std::uint32_t>(r[6]) << 8 |
                       static_cast<std::uint32_t>(r[7]) << 16;
    info.detailWord = U16(r, 9);
  } else {
    info.detailValue = U32(r, 8);
    info.detailWord = U16(r, 5);
  }
  info.detailWord2 = U16(r, 12);
  info.detailPacked =
      static_cast<std::uint16_t>((r[16] & 0x0F) << 12 | r[15] << 4 | (r[14] >> 4 & 0x0F));
  info.detailByte = r[17];
  return true;
}

bool SeriesQueriesApply(const _TouchDevInfo& info) {
  return info.deviceKind == TOUCHDEV_KIND_SERIES01XX && info.versionNumber >= 0x200;
}

_TouchDevData SeriesDetailCommand(std::uint8_t code) {
  return Command(code);
}

bool ApplySeriesDetail(_TouchDevInfo& info, std::uint8_t code, const _TouchDevData& reply) {
  const std::uint8_t* r = reply.report;
  const bool accepted = r[1] == code && r[4] == 0;
  if (code == kSeriesDetailWord) {
    info.detailWord = accepted ? U16(r, 5) : 0;
  } else {
    info.detailValue = accepted ? U32(r, 5) : 0;
  }
  return accepted;
}

bool MaxPointsApplies(const _TouchDevInfo& info) {
  const std::uint16_t v = info.versionNumber;
  return info.deviceKind == TOUCHDEV_KIND_STANDARD &&
         ((v >= 0x3150 && v <= 0x31FF) || (v >= 0x3300 && v <= 0x3FFF) ||
          (v >= 0x4150 && v <= 0x41FF) || (v >= 0x4300 && v <= 0x6FFF));
}

_TouchDevData MaxPointsCommand() {
  return Command(0x08);
}

bool ApplyMaxPoints(_TouchDevInfo& info, char sendResult, const _TouchDevData& reply) {
  const std::uint8_t* r = reply.report;
  if (sendResult != 1 || r[0] != 0xFC || r[1] != 0x08 || r[2] != 0x02 || r[3] != 0x01) {
    return false;
  }
  info.maxPointNum = r[5];
  return true;
}

_TouchDevData SeriesModeReadCommand() {
  return Command(0x0C);
}

bool ApplySeriesModeRead(const _TouchDevInfo& info, std::uint8_t (&status)[6], char sendResult,
                         const _TouchDevData& reply) {
  const std::uint8_t* r = reply.report;
  if (sendResult != 1 || r[0] != 0xFD || r[1] != 0x0C) return false;
  std::memcpy(status, r + 2, 3);
  if (info.versionNumber >= 0x201) std::memcpy(status + 3, r + 5, 3);
  return true;
}

_TouchDevData SeriesModeWriteCommand(const _TouchDevInfo& info, const std::uint8_t (&mode)[5]) {
  _TouchDevData cmd = Command(0x08);
  std::memcpy(cmd.report + 2, mode, 3);
  // Firmware 0x200 takes three mode bytes; from 0x201 on, five.
  if (info.versionNumber >= 0x201) std::memcpy(cmd.report + 5, mode + 3, 2);
  return cmd;
}

bool SeriesModeWriteAccepted(char sendResult, const _TouchDevData& reply,
                             const std::uint8_t (&mode)[5]) {
  const std::uint8_t* r = reply.report;
  return sendResult == 1 && r[0] == 0xFD && r[1] == 0x08 && std::memcmp(r + 2, mode, 5) == 0 &&
         r[7] == 0;
}

}  // namespace pelladex
