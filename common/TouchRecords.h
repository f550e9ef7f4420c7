#pragma once
// The touch records the report decoder hands to the outputs, and the two
// output interfaces it dispatches to (TUIO glue first, then the XML sender).
#include <cstdint>

// Contact state codes; 0 means the slot holds no contact.
enum : std::uint32_t {
  TOUCH_DOWN = 0x81,
  TOUCH_MOVE = 0x82,
  TOUCH_UP = 0x84,
};

// One slot of a 2- or 4-point frame, in device units.
struct TouchSlot {
  std::uint32_t x;
  std::uint32_t y;
  std::uint32_t state;
};

// Four slots, numbered 1 to 4 (slot[0] is slot 1).
struct TouchFrame {
  TouchSlot slot[4];
};

struct TouchContact {
  std::uint16_t id;
  std::uint16_t state;
  std::uint32_t x;
  std::uint32_t y;
};

// The multi-touch record: 32 entries indexed by contact id 0 to 31.
constexpr int kContactTableSize = 32;
struct ContactTable {
  TouchContact entry[kContactTableSize];
};

// The TUIO glue's side of dispatch.
class TuioTouchSink {
 public:
  virtual ~TuioTouchSink() = default;
  virtual void updateFromFrame(const TouchFrame& frame) = 0;
  virtual void updateFromTable(const ContactTable& table, std::uint16_t count) = 0;
};

// The XML sender's side of dispatch. It may rewrite the table's state
// fields while building its document; the decoder keeps its own history.
class XmlTouchSink {
 public:
  virtual ~XmlTouchSink() = default;
  virtual void sendFrameDocument(const TouchFrame& frame) = 0;
  virtual void sendTableDocument(ContactTable& table, std::uint16_t count) = 0;
};

// Both sides of one record's dispatch in one call, TUIO first, then XML: a
// sink that is both takes its lock once per record (the service's outputs).
class TouchDispatchSink {
 public:
  virtual ~TouchDispatchSink() = default;
  virtual void dispatchFrame(const TouchFrame& frame) = 0;
  virtual void dispatchTable(ContactTable& table, std::uint16_t count) = 0;
};
