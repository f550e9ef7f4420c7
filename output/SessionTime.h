#pragma once
#include <cstdint>

namespace TUIO {

// Time base of the TUIO output: whole seconds and microseconds since the
// system started, with the resolution of the system tick (1 ms).
struct SessionTime {
  std::int32_t seconds = 0;
  std::int32_t microseconds = 0;  // 0 .. 999 999 for non-negative times

  // From a tick count read as signed milliseconds; both fields truncate
  // toward zero, so a negative count (uptime past 2^31 ms) gives negative
  // fields.
  static SessionTime FromMilliseconds(std::int32_t ms);
  // The current tick count as a session time.
  static SessionTime Current();

  // Whole milliseconds in this time (used on differences).
  std::int32_t Milliseconds() const { return microseconds / 1000 + seconds * 1000; }

  friend SessionTime operator-(SessionTime a, SessionTime b);
  friend bool operator==(SessionTime a, SessionTime b) {
    return a.seconds == b.seconds && a.microseconds == b.microseconds;
  }
  friend bool operator!=(SessionTime a, SessionTime b) { return !(a == b); }
};

}  // namespace TUIO
