#pragma once
// The host-side calibration transform of single-channel frames. The frame
// stores three reference points and the three raw points it measured there;
// the service reads that block back and maps every point of the two-point
// layouts through it.
#include <cstdint>

// What the frame keeps and a read-back carries: the three reference points
// and the three raw points the frame measured there.
struct CalibrationBlock {
  std::int16_t measuredX[4] = {}, measuredY[4] = {};    // P0, P1, P2; slot 3 unused
  std::int16_t referenceX[4] = {}, referenceY[4] = {};  // R0, R1, R2; slot 3 unused
};

struct CalibrationData {
  std::int16_t inX = 0, inY = 0;    // raw point, set before MapPoint
  std::int16_t outX = 0, outY = 0;  // mapped point, written by MapPoint
  CalibrationBlock block;
  std::int16_t measuredLen01 = 0, measuredLen21 = 0;
  std::int16_t referenceLen01 = 0, referenceLen21 = 0;
  std::int16_t edge01X = 0, edge01Y = 0;
  std::int16_t edge21X = 0, edge21Y = 0;

  // Derives the edge lengths and vectors from the six points.
  void ComputeCalibration();
  // Maps (inX, inY) into (outX, outY), clamped to 1..4095. Returns false and
  // leaves outX/outY as the raw point when a measured edge has length 0 (the
  // points coincide, or no block has been read yet): there is no mapping then.
  bool MapPoint();
};

// Rounded length of (dx, dy) as the frame's firmware rounds it: the double
// square root rounded to single precision, plus 0.5, truncated.
std::int16_t CalibrationLength(std::int32_t dx, std::int32_t dy);

// The twelve little-endian words of a read-back (bytes 3..26 of the reply)
// into data.block: R0, R1, R2, then P0, P1, P2, each x then y, bit for bit.
void StoreCalibrationBlock(const std::uint8_t* words24, CalibrationData& data);
