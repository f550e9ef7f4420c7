#pragma once
// Where the target window draws: the four targets one eighth of the screen in
// from each edge, the cross and the shrinking ring. W and H are the pixel
// size of the primary display's current mode.
#include <cstdint>

struct TargetPoint {
  int x = 0, y = 0;
};

// Targets 1 to 4 go clockwise from the top left. False for any other index.
bool TargetPosition(int targetIndex, int width, int height, TargetPoint& at);
// The same target as the frame is told it, in sixteenths of the screen.
bool TargetSixteenths(int targetIndex, std::uint8_t& x, std::uint8_t& y);
// The cross is square, its side 2% of the width.
int CrossSize(int width);
// The ring's next radius: one step smaller, back to the largest (an eighth of
// the width) once it would reach zero.
int NextRingRadius(int radius, int width);
