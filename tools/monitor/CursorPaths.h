#pragma once
// The paths the TUIO cursors took, kept from the tracker's events and drawn
// as an SVG picture of the unit square: one coloured polyline per cursor,
// its start and end marked, its session id written beside the start.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/monitor/TuioCursorTracker.h"

namespace monitor {

class CursorPaths {
 public:
  // Each path keeps at most this many points: past it, every other point is
  // dropped and later points are thinned alike, so a finger held down for
  // hours costs bounded memory and still draws its whole way.
  explicit CursorPaths(std::size_t maxPointsPerPath = 20000);

  // An added cursor starts a new path (an id seen again after its removal,
  // e.g. from a restarted service, draws a second one); a move extends it.
  // Positions not known yet (NaN) are skipped.
  void Record(const CursorEvent& e);

  struct Point {
    float x, y;
  };
  struct Path {
    std::int32_t id;
    std::vector<Point> points;
  };
  const std::vector<Path>& Paths() const { return paths_; }
  // The paths with at least one point: what the drawing shows.
  std::size_t DrawnCount() const;

  // The drawing: a 1000-unit square per unit of the touch surface (x right,
  // y down, as TUIO has it), positions with 0.1-unit precision.
  std::string Svg() const;

 private:
  struct Open {
    std::size_t path;
    std::uint32_t stride = 1, since = 0;  // thinning once the path is full
    bool provisional = false;             // the last point is one between strides
  };
  void Append(Open& open, float x, float y);

  std::size_t maxPoints_;
  std::vector<Path> paths_;
  std::vector<std::pair<std::int32_t, Open>> open_;  // cursors alive now
};

}  // namespace monitor
