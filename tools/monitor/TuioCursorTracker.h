#pragma once
// What a TUIO client makes of the "/tuio/2Dcur" bundles: which cursors were
// added, moved and removed. Decoding by oscpack's receiving side.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace monitor {

struct CursorSet {
  std::int32_t id = 0;
  float x = 0, y = 0, xSpeed = 0, ySpeed = 0, accel = 0;
};

// One bundle of either profile.
struct TuioBundle {
  std::string profile;  // "/tuio/2Dcur" or "/tuio/2Dobj"
  std::vector<std::int32_t> alive;
  std::vector<CursorSet> sets;
  std::int32_t fseq = 0;
};

// Decodes one datagram holding one TUIO bundle; nullopt (and `error`) for
// anything malformed.
std::optional<TuioBundle> DecodeTuioBundle(const char* data, std::size_t size,
                                           std::string* error = nullptr);

struct CursorEvent {
  enum Kind { kAdded, kMoved, kRemoved } kind;
  std::int32_t id;
  float x, y;  // the latest position (Removed: the last one); NaN when not known yet
};

class TuioCursorTracker {
 public:
  // The cursor changes one cursor bundle brings. A cursor is added when it
  // first appears (alive or set), moved when a set gives a new position,
  // removed when it leaves the alive list.
  std::vector<CursorEvent> Update(const TuioBundle& bundle);
  std::size_t AliveCount() const { return cursors_.size(); }

 private:
  struct Position {
    float x = 0, y = 0;
  };
  std::map<std::int32_t, Position> cursors_;
};

}  // namespace monitor
