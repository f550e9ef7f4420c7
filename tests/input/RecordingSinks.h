#pragma once
// Output sinks that remember every record dispatched to them, in order.
#include <string>
#include <vector>

#include "input/TouchRecords.h"

struct Dispatched {
  char kind;  // 'F' frame, 'T' table
  _TouchFrame frame{};
  ContactTable table{};
  std::uint16_t count = 0;
};

class RecordingSinks : public TuioTouchSink, public XmlTouchSink {
 public:
  std::vector<Dispatched> tuio, xml;
  std::string order;  // "t" and "x" as the calls came

  void updateFromFrame(const _TouchFrame& f) override {
    tuio.push_back({'F', f, {}, 0});
    order += 't';
  }
  void updateFromTable(const ContactTable& t, std::uint16_t count) override {
    tuio.push_back({'T', {}, t, count});
    order += 't';
  }
  void sendFrameDocument(const _TouchFrame& f) override {
    xml.push_back({'F', f, {}, 0});
    order += 'x';
  }
  void sendTableDocument(ContactTable& t, std::uint16_t count) override {
    xml.push_back({'T', {}, t, count});
    order += 'x';
    // The XML sender rewrites states in place; the decoder must not care.
    for (int i = 0; i < count && i < kContactTableSize; ++i) t.entry[i].state = 0x5555;
  }
  void clear() {
    tuio.clear();
    xml.clear();
    order.clear();
  }
};
