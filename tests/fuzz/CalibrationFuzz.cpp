// libFuzzer: a calibration read-back from the frame into the transform, then
// points through it. A stored block either gives a mapping whose every point
// lands on the screen (1..4095 on both axes) or, with coinciding measured
// points, no mapping at all (points pass through unchanged). UBSan checks the
// arithmetic (no signed overflow, no division by zero).
//
// Input: the 64-byte read-back report, then raw points (x, y as 16-bit words).
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "input/ReportRouting.h"
#include "tests/fuzz/FuzzBytes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzBytes in(data, size);
  std::uint8_t report[64];
  in.take(report, sizeof report);
  CalibrationData cal;
  const std::uint8_t valid = ApplyReadBack(report, cal);
  const bool degenerate = cal.measuredLen01 == 0 || cal.measuredLen21 == 0;
  if (valid == 0 && !degenerate) std::abort();  // an invalid block is never stored
  do {
    cal.inX = static_cast<std::int16_t>(in.u16());
    cal.inY = static_cast<std::int16_t>(in.u16());
    const bool mapped = cal.MapPoint();
    if (mapped == degenerate) std::abort();
    if (mapped && (cal.outX < 1 || cal.outX > 4095 || cal.outY < 1 || cal.outY > 4095)) {
      std::fprintf(stderr, "(%d,%d) mapped off the screen to (%d,%d)\n", cal.inX, cal.inY, cal.outX,
                   cal.outY);
      std::abort();
    }
    if (!mapped && (cal.outX != cal.inX || cal.outY != cal.inY)) std::abort();
  } while (!in.empty());
  return 0;
}
