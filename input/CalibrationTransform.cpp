#include "input/CalibrationTransform.h"

#include <cmath>

namespace {

// Two's-complement wrap to 16 and 32 bits without relying on signed overflow.
std::int16_t Wrap16(std::int64_t v) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint64_t>(v)));
}
std::int32_t Wrap32(std::int64_t v) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

// 32-bit division truncating toward zero; the one quotient that does not
// fit (INT32_MIN / -1) wraps as the hardware's would.
std::int32_t Divide(std::int32_t a, std::int16_t b) {
  if (b == -1) return Wrap32(-std::int64_t{a});
  return a / b;
}

// One axis of the mapping: project, then divide, multiply, divide (in this
// order, each step truncating toward zero) so results match the frame's.
std::int32_t Project(std::int16_t dx, std::int16_t dy, std::int16_t ex, std::int16_t ey,
                     std::int16_t measuredLen, std::int16_t referenceLen) {
  std::int32_t t = Wrap32(std::int64_t{dx} * ex + std::int64_t{dy} * ey);
  t = Divide(t, measuredLen);
  t = Wrap32(std::int64_t{t} * referenceLen);
  return Divide(t, measuredLen);
}

}  // namespace

std::int16_t CalibrationLength(std::int32_t dx, std::int32_t dy) {
  // The sum is taken in 64 bits: with 16-bit inputs it can exceed 2^31, where
  // a 32-bit sum would wrap negative and the square root would be NaN.
  const std::int64_t s = std::int64_t{dx} * dx + std::int64_t{dy} * dy;
  const float rounded = static_cast<float>(std::sqrt(static_cast<double>(s)));
  const auto length = static_cast<std::int32_t>(static_cast<double>(rounded) + 0.5);
  return Wrap16(length);
}

void CalibrationData::ComputeCalibration() {
  const auto d = [](std::int16_t a, std::int16_t b) { return std::int32_t{a} - std::int32_t{b}; };
  measuredLen01 = CalibrationLength(d(block.measuredX[0], block.measuredX[1]),
                                    d(block.measuredY[0], block.measuredY[1]));
  measuredLen21 = CalibrationLength(d(block.measuredX[2], block.measuredX[1]),
                                    d(block.measuredY[2], block.measuredY[1]));
  referenceLen01 = CalibrationLength(d(block.referenceX[0], block.referenceX[1]),
                                     d(block.referenceY[0], block.referenceY[1]));
  referenceLen21 = CalibrationLength(d(block.referenceX[2], block.referenceX[1]),
                                     d(block.referenceY[2], block.referenceY[1]));
  edge01X = Wrap16(d(block.measuredX[0], block.measuredX[1]));
  edge01Y = Wrap16(d(block.measuredY[0], block.measuredY[1]));
  edge21X = Wrap16(d(block.measuredX[2], block.measuredX[1]));
  edge21Y = Wrap16(d(block.measuredY[2], block.measuredY[1]));
}

bool CalibrationData::MapPoint() {
  if (measuredLen01 == 0 || measuredLen21 == 0) {
    outX = inX;
    outY = inY;
    return false;
  }
  const std::int16_t dx = Wrap16(std::int32_t{inX} - block.measuredX[1]);
  const std::int16_t dy = Wrap16(std::int32_t{inY} - block.measuredY[1]);
  const std::int32_t t = Project(dx, dy, edge01X, edge01Y, measuredLen01, referenceLen01);
  const std::int32_t u = Project(dx, dy, edge21X, edge21Y, measuredLen21, referenceLen21);
  outX = Wrap16(std::int64_t{block.referenceX[1]} - t);
  outY = Wrap16(std::int64_t{block.referenceY[1]} + u);
  // The order matters: a coordinate at or below 0 ends at 1, never at 0.
  if (outX < 0) outX = 0;
  if (outY < 0) outY = 0;
  if (outX >= 4096) outX = 4095;
  if (outY >= 4096) outY = 4095;
  if (outX == 0) outX = 1;
  if (outY == 0) outY = 1;
  return true;
}

void StoreCalibrationBlock(const std::uint8_t* words24, CalibrationData& data) {
  const auto word = [words24](int i) {
    return static_cast<std::int16_t>(
        static_cast<std::uint16_t>(words24[2 * i] | (words24[2 * i + 1] << 8)));
  };
  for (int p = 0; p < 3; ++p) {
    data.block.referenceX[p] = word(2 * p);
    data.block.referenceY[p] = word(2 * p + 1);
    data.block.measuredX[p] = word(6 + 2 * p);
    data.block.measuredY[p] = word(6 + 2 * p + 1);
  }
}
