#include "output/TuioOutput.h"

#include <cstring>

#include "output/CoordinateScale.h"

TuioOutput::~TuioOutput() = default;

void TuioOutput::startTuioOutput(const char* protocol, const char* host, int port) {
  // A start without a stop replaces the publisher: the old one says goodbye
  // before the new one says hello.
  publisher_.reset();
  slotCursors_ = {};
  contactCursors_ = {};
  down_.store(0, std::memory_order_relaxed);
  if (protocol != nullptr && std::strcmp(protocol, "UDP") == 0)
    publisher_ = std::make_unique<TUIO::TuioPublisher>(
        host, port, TUIO::TuioPublisher::kDefaultCapacity, streams_, &datagrams_);
}

void TuioOutput::stopTuioOutput() {
  contactCursors_ = {};
  publisher_.reset();
  slotCursors_ = {};
  down_.store(0, std::memory_order_relaxed);
}

void TuioOutput::publish() {
  publisher_->settleUntouchedCursors();
  publisher_->publishFrame();
  down_.store(std::uint32_t(publisher_->cursorCount()), std::memory_order_relaxed);
}

void TuioOutput::apply(std::uint32_t state, float x, float y, TUIO::TuioCursor*& cursor) {
  switch (SlotRule(state, cursor != nullptr)) {
    case SlotAction::kAdd:
      cursor = publisher_->addCursor(x, y);
      touches_.fetch_add(1, std::memory_order_relaxed);
      break;
    case SlotAction::kMove:
      publisher_->moveCursor(cursor, x, y);
      break;
    case SlotAction::kRemove:
      publisher_->removeCursor(cursor);
      cursor = nullptr;
      break;
    case SlotAction::kNone:
      break;
  }
}

void TuioOutput::updateFromFrame(const TouchFrame& frame) {
  if (!publisher_) return;
  const bool series = series01xx_;
  const int slots = series ? 2 : 4;
  publisher_->openFrame(now_());
  for (int k = 0; k < 4; ++k) {
    const TouchSlot& s = frame.slot[k];
    if (k >= slots) continue;  // slots 3 and 4 of a Series01xx frame count as empty
    apply(s.state, ScaleCoordinate(s.x, series), ScaleCoordinate(s.y, series),
          slotCursors_[std::size_t(k)]);
  }
  publish();
}

void TuioOutput::updateFromTable(const ContactTable& table, std::uint16_t /*count*/) {
  if (!publisher_) return;
  // One time for all 32 frames: only the last frame is published, and it
  // sends set messages only for cursors stamped with its own time, so a
  // tick between an entry's frame and the last one would lose that entry's
  // position.
  const TUIO::SessionTime t = now_();
  for (const TouchContact& c : table.entry) {
    publisher_->openFrame(t);
    // The decoder files every contact under its own id; an id outside the
    // cursor table cannot have a cursor and is left alone.
    if (c.id >= kContactTableSize) continue;
    apply(c.state, ScaleSeries(c.x), ScaleSeries(c.y), contactCursors_[c.id]);
  }
  publish();
}
