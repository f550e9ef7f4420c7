#pragma once
// Frame coordinates to the normalised range both outputs send: standard
// frames count 4096 units to the screen side, Series01xx frames and contact
// tables 32760 (not 32767 or 32768: the frame's full scale). The coordinates
// are read as unsigned 32-bit numbers and the results are not clamped.
#include <cstdint>

// Computed in double and rounded once to float, as both outputs always have:
// the TUIO bytes and the XML text depend on it (in float, a coordinate above
// 2^24 would already be rounded before the division).
inline float ScaleStandard(std::uint32_t v) {
  return float(double(v) * 0.000244140625);  // 1/4096, exact
}
inline float ScaleSeries(std::uint32_t v) {
  return float(double(v) / 32760.0);
}
inline float ScaleCoordinate(std::uint32_t v, bool series01xx) {
  return series01xx ? ScaleSeries(v) : ScaleStandard(v);
}
