#pragma once
// Reads the XML touch documents a client receives: a small parser for the
// OSCPACKET / MESSAGE / ARGUMENT elements, and the TUIO view of a packet
// (set messages, alive list, fseq).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace monitor {

struct XmlArgument {
  std::string type;  // "s", "i", "f"
  std::string value;
};

struct XmlMessage {
  std::string name;
  std::vector<XmlArgument> arguments;
};

struct XmlPacket {
  std::string address, port, time;
  std::vector<XmlMessage> messages;
};

// Parses one document. Elements may carry their attributes in any order and
// with any spacing; the only elements allowed are the three above, nested
// as the documents nest them, with no text between them.
std::optional<XmlPacket> ParseXmlPacket(std::string_view text, std::string* error = nullptr);

struct TouchSet {
  std::int32_t id = 0;
  float x = 0, y = 0, dx = 0, dy = 0;
};

struct TouchDocument {
  std::vector<TouchSet> sets;
  std::vector<std::int32_t> alive;
  std::int32_t fseq = 0;
};

// The TUIO meaning of a packet: every "/tuio/2Dcur" message must be a set
// (id, x, y, dx, dy and two more floats), an alive list or an fseq.
std::optional<TouchDocument> ReadTouchDocument(std::string_view text, std::string* error = nullptr);

// One line for a person: "#fseq alive[ids] id(x, y) ...".
std::string Describe(const TouchDocument& doc);

}  // namespace monitor
