#pragma once
// Output sinks that remember every record dispatched to them, in order.
// Reader threads dispatch while a test looks: tests that run the pipeline's
// threads read through Snapshot(); the decoder tests read the members.
#include <mutex>
#include <string>
#include <vector>

#include "common/TouchRecords.h"

struct Dispatched {
  char kind;  // 'F' frame, 'T' table
  TouchFrame frame{};
  ContactTable table{};
  std::uint16_t count = 0;
};

class RecordingSinks : public TuioTouchSink, public XmlTouchSink {
 public:
  std::vector<Dispatched> tuio, xml;
  std::string order;  // "t" and "x" as the calls came

  void updateFromFrame(const TouchFrame& f) override {
    std::lock_guard<std::mutex> lock(mu_);
    tuio.push_back({'F', f, {}, 0});
    order += 't';
  }
  void updateFromTable(const ContactTable& t, std::uint16_t count) override {
    std::lock_guard<std::mutex> lock(mu_);
    tuio.push_back({'T', {}, t, count});
    order += 't';
  }
  void sendFrameDocument(const TouchFrame& f) override {
    std::lock_guard<std::mutex> lock(mu_);
    xml.push_back({'F', f, {}, 0});
    order += 'x';
  }
  void sendTableDocument(ContactTable& t, std::uint16_t count) override {
    std::lock_guard<std::mutex> lock(mu_);
    xml.push_back({'T', {}, t, count});
    order += 'x';
    // The XML sender rewrites states in place; the decoder must not care.
    for (int i = 0; i < count && i < kContactTableSize; ++i) t.entry[i].state = 0x5555;
  }
  // The TUIO side's records so far, and the call order.
  std::vector<Dispatched> Snapshot(std::string* calls = nullptr) {
    std::lock_guard<std::mutex> lock(mu_);
    if (calls) *calls = order;
    return tuio;
  }
  void clear() {
    tuio.clear();
    xml.clear();
    order.clear();
  }

 private:
  std::mutex mu_;
};
