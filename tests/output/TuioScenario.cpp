#include "tests/output/TuioScenario.h"

#include "output/TuioPublisher.h"

namespace tuioscenario {

using TUIO::SessionTime;
using TUIO::TuioPublisher;

void Play(const char* host, int port) {
  // Frame times start two whole seconds ahead, so even a slow construction leaves the
  // first frame in a later second than the idle bundles.
  const std::int32_t base = SessionTime::Current().seconds + 2;
  auto at = [base](int ms) { return SessionTime{base + ms / 1000, (ms % 1000) * 1000}; };
  {
    TuioPublisher pub(host, port);
    pub.openFrame(at(0));  // one touch down
    TUIO::TuioCursor* a = pub.addCursor(0.25f, 0.5f);
    pub.settleUntouchedCursors();
    pub.publishFrame();

    pub.openFrame(at(100));  // it moves 0.1 to the right in 100 ms
    pub.moveCursor(a, 0.35f, 0.5f);
    pub.moveCursor(a, 0.9f, 0.9f);  // same frame: dropped
    pub.settleUntouchedCursors();
    pub.publishFrame();

    pub.openFrame(at(200));  // a second touch; the first is not reported
    TUIO::TuioCursor* b = pub.addCursor(0.75f, 0.25f);
    pub.settleUntouchedCursors();
    pub.publishFrame();

    pub.openFrame(at(300));  // nothing reported: the first one stops
    pub.settleUntouchedCursors();
    pub.publishFrame();

    pub.openFrame(at(400));  // no change: one idle bundle for this second
    pub.settleUntouchedCursors();
    pub.publishFrame();

    pub.openFrame(at(500));  // no change in the same second: nothing
    pub.settleUntouchedCursors();
    pub.publishFrame();

    pub.openFrame(at(1000));  // first lifts; a tap comes and goes at once
    pub.removeCursor(a);
    pub.removeCursor(pub.addCursor(0.5f, 0.5f));
    pub.settleUntouchedCursors();
    pub.publishFrame();
    (void)b;
  }
  {
    // Twenty touches at once in the smallest packet: the frame is split.
    TuioPublisher pub(host, port, 100);
    pub.openFrame(at(2000));
    for (int i = 0; i < 20; ++i) pub.addCursor(i / 20.0f, 1.0f - i / 20.0f);
    pub.settleUntouchedCursors();
    pub.publishFrame();
  }
}

}  // namespace tuioscenario
