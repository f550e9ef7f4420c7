#include "output/SessionTime.h"

#include "platform/Clock.h"

namespace TUIO {

SessionTime SessionTime::FromMilliseconds(std::int32_t ms) {
  return SessionTime{ms / 1000, (ms % 1000) * 1000};
}

SessionTime SessionTime::Current() {
  return FromMilliseconds(static_cast<std::int32_t>(platform::TickCount()));
}

SessionTime operator-(SessionTime a, SessionTime b) {
  SessionTime d{a.seconds - b.seconds, a.microseconds - b.microseconds};
  if (d.microseconds < 0) {
    d.microseconds += 1000000;
    d.seconds -= 1;
  }
  return d;
}

}  // namespace TUIO
