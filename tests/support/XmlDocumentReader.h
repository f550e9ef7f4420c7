#pragma once
// The one reader of the XML touch documents in the tests: libxml2, a parser
// that shares nothing with our writer, reads a document into its packet,
// messages and arguments.
#include <string>
#include <vector>

namespace testsupport {

struct XmlArgument {
  std::string type;  // "s", "i", "f"
  std::string value;
};

struct XmlMessage {
  std::string name;
  std::vector<XmlArgument> args;
};

struct XmlPacket {
  std::string address, port, time;
  std::vector<XmlMessage> messages;
};

// False, with `why`, when the text is not well-formed or not shaped
// OSCPACKET > MESSAGE > ARGUMENT: elements only (the writer puts no text or
// whitespace between them), arguments empty.
bool ReadXmlPacket(const std::string& text, XmlPacket& packet, std::string& why);

// One touch document as the service writes it: the packet element of
// 127.0.0.1:3000, /tuio/2Dcur messages only, each set with an integer id,
// four %f values and its two "0.0"; alive ids; fseq. False, with `why`,
// for anything else.
struct XmlTouch {
  int id;
  double x, y;
};
struct XmlDoc {
  std::vector<XmlTouch> touches;
  std::vector<int> alive;
  int fseq = -1;
};
bool ReadTouchDocument(const std::string& text, XmlDoc& doc, std::string& why);

}  // namespace testsupport
