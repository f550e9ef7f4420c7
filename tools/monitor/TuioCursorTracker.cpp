#include "tools/monitor/TuioCursorTracker.h"

#include <algorithm>
#include <limits>

#include "osc/OscException.h"
#include "osc/OscReceivedElements.h"

namespace monitor {

std::optional<TuioBundle> DecodeTuioBundle(const char* data, std::size_t size, std::string* error) {
  try {
    osc::ReceivedPacket packet(data, osc::osc_bundle_element_size_t(size));
    if (!packet.IsBundle()) throw osc::MalformedPacketException("not a bundle");
    osc::ReceivedBundle bundle(packet);
    TuioBundle out;
    bool sawFseq = false;
    for (auto e = bundle.ElementsBegin(); e != bundle.ElementsEnd(); ++e) {
      if (e->IsBundle()) throw osc::MalformedPacketException("nested bundle");
      osc::ReceivedMessage m(*e);
      const std::string address = m.AddressPattern();
      if (out.profile.empty()) out.profile = address;
      if (address != out.profile) throw osc::MalformedPacketException("mixed profiles");
      auto a = m.ArgumentsBegin();
      if (a == m.ArgumentsEnd()) throw osc::MalformedMessageException("no command word");
      const std::string word = (a++)->AsString();
      if (word == "alive") {
        for (; a != m.ArgumentsEnd(); ++a) out.alive.push_back(a->AsInt32());
      } else if (word == "set") {
        CursorSet s;
        s.id = (a++)->AsInt32();
        for (float* f : {&s.x, &s.y, &s.xSpeed, &s.ySpeed, &s.accel}) {
          if (a == m.ArgumentsEnd()) throw osc::MissingArgumentException();
          *f = (a++)->AsFloat();
        }
        out.sets.push_back(s);
      } else if (word == "fseq") {
        out.fseq = (a++)->AsInt32();
        sawFseq = true;
      } else {
        throw osc::MalformedMessageException("unknown command word");
      }
    }
    if (!sawFseq) throw osc::MalformedPacketException("no fseq message");
    return out;
  } catch (const osc::Exception& ex) {
    if (error) *error = ex.what();
    return std::nullopt;
  }
}

std::vector<CursorEvent> TuioCursorTracker::Update(const TuioBundle& bundle) {
  std::vector<CursorEvent> events;
  if (bundle.profile != "/tuio/2Dcur") return events;
  for (auto it = cursors_.begin(); it != cursors_.end();) {
    if (std::find(bundle.alive.begin(), bundle.alive.end(), it->first) == bundle.alive.end()) {
      events.push_back({CursorEvent::kRemoved, it->first, it->second.x, it->second.y});
      it = cursors_.erase(it);
    } else {
      ++it;
    }
  }
  for (const CursorSet& s : bundle.sets) {
    auto it = cursors_.find(s.id);
    if (it == cursors_.end()) {
      cursors_[s.id] = {s.x, s.y};
      events.push_back({CursorEvent::kAdded, s.id, s.x, s.y});
    } else if (it->second.x != s.x || it->second.y != s.y) {
      it->second = {s.x, s.y};
      events.push_back({CursorEvent::kMoved, s.id, s.x, s.y});
    }
  }
  // Alive but never set (a receiver that joined late): known from now on.
  for (std::int32_t id : bundle.alive) {
    if (cursors_.count(id)) continue;
    const float unknown = std::numeric_limits<float>::quiet_NaN();
    cursors_[id] = {unknown, unknown};
    events.push_back({CursorEvent::kAdded, id, unknown, unknown});
  }
  return events;
}

}  // namespace monitor
