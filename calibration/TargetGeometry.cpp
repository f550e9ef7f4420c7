#include "calibration/TargetGeometry.h"

namespace {
// Truncation toward zero, as the drawing code's float-to-int conversions do.
int Eighth(int v) {
  return static_cast<int>(v * 0.125);
}
int SevenEighths(int v) {
  return static_cast<int>(v - v * 0.125);
}
}  // namespace

bool TargetPosition(int targetIndex, int width, int height, TargetPoint& at) {
  if (targetIndex < 1 || targetIndex > 4) return false;
  const bool right = targetIndex == 2 || targetIndex == 3;
  const bool bottom = targetIndex == 3 || targetIndex == 4;
  at.x = right ? SevenEighths(width) : Eighth(width);
  at.y = bottom ? SevenEighths(height) : Eighth(height);
  return true;
}

bool TargetSixteenths(int targetIndex, std::uint8_t& x, std::uint8_t& y) {
  if (targetIndex < 1 || targetIndex > 4) return false;
  x = (targetIndex == 2 || targetIndex == 3) ? 14 : 2;
  y = (targetIndex == 3 || targetIndex == 4) ? 14 : 2;
  return true;
}

int CrossSize(int width) {
  return static_cast<int>(width * 0.02);
}

int NextRingRadius(int radius, int width) {
  const int largest = Eighth(width);
  const int next = radius + (-20 * width) / 1024;
  if (next <= 0 || next > largest) return largest;
  return next;
}
