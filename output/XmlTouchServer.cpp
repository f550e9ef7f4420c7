#include "output/XmlTouchServer.h"

#include <algorithm>
#include <cmath>

#include "common/FrameClasses.h"
#include "output/CoordinateScale.h"

namespace {

bool IsTouched(std::uint32_t state) {
  return state == TOUCH_DOWN || state == TOUCH_MOVE;
}

}  // namespace

XmlTouchServer::XmlTouchServer(std::size_t backlogBytes)
    : link_(std::max(backlogBytes, xmldoc::MaxDocumentSize(kMaxXmlEntries) + 1)),
      document_(new char[xmldoc::MaxDocumentSize(kMaxXmlEntries) + 1]) {
  document_[0] = '\0';
}

void XmlTouchServer::startCycle() {
  documentCounter_ = 0;
  nextTouchId_ = 1;
  previousEntries_ = {};
  lastDocumentTouched_ = false;
  started_ = true;
}

void XmlTouchServer::stopCycle() {
  if (started_ && lastDocumentTouched_) sendLiftDocument();
  started_ = false;
  documentCounter_ = 0;
  nextTouchId_ = 1;
}

std::int32_t XmlTouchServer::takeTouchId() {
  const std::int32_t id = nextTouchId_;
  // Wraps instead of overflowing after 2^31 touches.
  nextTouchId_ = std::int32_t(std::uint32_t(nextTouchId_) + 1u);
  return id;
}

void XmlTouchServer::buildTouchDocument(const XmlEntry* entries, int n) {
  documentCounter_ = std::int32_t(std::uint32_t(documentCounter_) + 1u);
  n = std::max(n, 0);
  documentLength_ = xmldoc::WriteTouchDocument(entries, n, documentCounter_, document_.get());
  lastDocumentEntries_ = n;
  lastDocumentTouched_ =
      std::any_of(entries, entries + n, [](const XmlEntry& e) { return e.id != 0; });
}

void XmlTouchServer::sendDocument() {
  if (link_.Send(document_.get(), documentLength_ + 1))
    sent_.fetch_add(1, std::memory_order_relaxed);
}

void XmlTouchServer::sendLiftDocument() {
  const std::array<XmlEntry, kMaxXmlEntries> lifted{};
  buildTouchDocument(lifted.data(), lastDocumentEntries_);
  sendDocument();
}

void XmlTouchServer::sendFrameDocument(const TouchFrame& frame) {
  if (!started_) return;
  // A lifted slot gets identifier 0, which leaves its entry zeroed: its
  // coordinates are never read, so the record is left as it is.
  std::array<std::int32_t, 4> ids{};
  if (!frame::HasFourPointIdentifiers(device_.versionNumber)) {
    ids[0] = IsTouched(frame.slot[0].state) ? 1 : 0;
    ids[1] = IsTouched(frame.slot[1].state) ? 2 : 0;
  } else {
    for (int k = 0; k < 4; ++k) {
      const std::uint32_t state = frame.slot[k].state;
      if (state == TOUCH_DOWN) {
        slotIds_[std::size_t(k)] = takeTouchId();
        ids[std::size_t(k)] = slotIds_[std::size_t(k)];
      } else if (state == TOUCH_MOVE) {
        ids[std::size_t(k)] = slotIds_[std::size_t(k)];
      }
    }
  }

  const bool series = device_.series01xx;
  const int n = series || !frame::HasFourPointIdentifiers(device_.versionNumber) ? 2 : 4;
  std::array<XmlEntry, 4> entries{};
  int kept = 0;
  // Entries with a touch, compacted to the front in slot order.
  for (int k = 0; k < n; ++k) {
    if (ids[k] == 0) continue;
    XmlEntry& e = entries[std::size_t(kept++)];
    e.id = ids[k];
    e.x = ScaleCoordinate(frame.slot[k].x, series);
    e.y = ScaleCoordinate(frame.slot[k].y, series);
    e.dx = std::fabs(e.x - previousEntries_[std::size_t(k)].x);
    e.dy = std::fabs(e.y - previousEntries_[std::size_t(k)].y);
  }

  const bool previousUntouched = previousEntries_[0].x == 0.0f && previousEntries_[0].y == 0.0f;
  std::copy(entries.begin(), entries.begin() + n, previousEntries_.begin());
  if (previousUntouched) return;
  buildTouchDocument(entries.data(), n);
  sendDocument();
}

void XmlTouchServer::sendTableDocument(ContactTable& table, std::uint16_t count) {
  if (!started_) return;
  // The count comes from the report and can reach 255; the table and the
  // identifiers have 32 positions.
  const int n = std::min<int>(count, kContactTableSize);
  std::array<XmlEntry, kMaxXmlEntries> entries{};
  for (int i = 0; i < n; ++i) {
    TouchContact& c = table.entry[i];
    const std::size_t at = std::size_t(i);
    if (c.state == TOUCH_DOWN) {
      positionIds_[at] = takeTouchId();
      c.state = std::uint16_t(positionIds_[at]);
    } else if (c.state == TOUCH_MOVE) {
      c.state = std::uint16_t(positionIds_[at]);
    } else if (c.state == TOUCH_UP) {
      c.x = c.y = 0;
      c.state = 0;
    }
    if (c.state == 0) continue;
    XmlEntry& e = entries[at];
    e.id = c.state;
    e.x = ScaleSeries(c.x);
    e.y = ScaleSeries(c.y);
    e.dx = std::fabs(e.x - previousEntries_[at].x);
    e.dy = std::fabs(e.y - previousEntries_[at].y);
  }
  buildTouchDocument(entries.data(), n);
  sendDocument();
}
