#pragma once
// The bytes of the frame queries: the command each sends and what a reply
// must hold to be accepted, and which record fields an accepted reply fills.
#include <cstdint>

#include "device/Pelladex.h"

namespace pelladex {

// Standard frames (kind 1) answer the detail query from version 0x2018 on.
bool StandardDetailApplies(const _TouchDevInfo& info);
_TouchDevData StandardDetailCommand();
// Fills the five detail fields from an accepted reply, or zeroes them.
bool ApplyStandardDetail(_TouchDevInfo& info, const _TouchDevData& reply);

// Series01xx frames (kind 2) answer their queries from version 0x200 on.
bool SeriesQueriesApply(const _TouchDevInfo& info);
constexpr std::uint8_t kSeriesDetailWord = 0x0D;
constexpr std::uint8_t kSeriesDetailValue = 0x0E;
_TouchDevData SeriesDetailCommand(std::uint8_t code);
// detailWord from a 0x0D reply, detailValue from a 0x0E reply; 0 when the
// reply is not accepted.
bool ApplySeriesDetail(_TouchDevInfo& info, std::uint8_t code, const _TouchDevData& reply);

bool MaxPointsApplies(const _TouchDevInfo& info);
_TouchDevData MaxPointsCommand();
bool ApplyMaxPoints(_TouchDevInfo& info, char sendResult, const _TouchDevData& reply);

_TouchDevData SeriesModeReadCommand();
bool ApplySeriesModeRead(const _TouchDevInfo& info, std::uint8_t (&status)[6], char sendResult,
                         const _TouchDevData& reply);

_TouchDevData SeriesModeWriteCommand(const _TouchDevInfo& info, const std::uint8_t (&mode)[5]);
bool SeriesModeWriteAccepted(char sendResult, const _TouchDevData& reply,
                             const std::uint8_t (&mode)[5]);

}  // namespace pelladex
