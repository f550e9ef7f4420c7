#include "tests/support/XmlDocumentReader.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>
#include <regex>

namespace testsupport {

namespace {

std::string Attr(xmlNodePtr n, const char* name) {
  xmlChar* v = xmlGetProp(n, reinterpret_cast<const xmlChar*>(name));
  std::string s = v ? reinterpret_cast<const char*>(v) : "";
  xmlFree(v);
  return s;
}

bool Named(xmlNodePtr n, const char* name) {
  return n->type == XML_ELEMENT_NODE &&
         xmlStrcmp(n->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

}  // namespace

bool ReadXmlPacket(const std::string& text, XmlPacket& packet, std::string& why) {
  packet = XmlPacket{};
  xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), "touch.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (!doc) return why = "not well-formed: " + text, false;
  std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> guard(doc, xmlFreeDoc);
  xmlNodePtr root = xmlDocGetRootElement(doc);
  if (!root || !Named(root, "OSCPACKET")) return why = "no OSCPACKET element: " + text, false;
  packet.address = Attr(root, "ADDRESS");
  packet.port = Attr(root, "PORT");
  packet.time = Attr(root, "TIME");
  for (xmlNodePtr m = root->children; m; m = m->next) {
    if (!Named(m, "MESSAGE")) return why = "stray node in " + text, false;
    XmlMessage message{Attr(m, "NAME"), {}};
    for (xmlNodePtr a = m->children; a; a = a->next) {
      if (!Named(a, "ARGUMENT") || a->children != nullptr)
        return why = "bad argument element in " + text, false;
      message.args.push_back({Attr(a, "TYPE"), Attr(a, "VALUE")});
    }
    packet.messages.push_back(std::move(message));
  }
  return true;
}

bool ReadTouchDocument(const std::string& text, XmlDoc& doc, std::string& why) {
  static const std::regex kFloat("-?[0-9]+\\.[0-9]{6}");
  static const std::regex kInt("-?[0-9]+");
  XmlPacket packet;
  if (!ReadXmlPacket(text, packet, why)) return false;
  if (packet.address != "127.0.0.1" || packet.port != "3000" || packet.time != "1")
    return why = "bad packet element: " + text, false;
  for (const XmlMessage& m : packet.messages) {
    if (m.name != "/tuio/2Dcur") return why = "bad message element: " + text, false;
    std::vector<std::pair<std::string, std::string>> args;
    for (const XmlArgument& a : m.args) args.emplace_back(a.type, a.value);
    if (args.empty() || args[0].first != "s") return why = "message without a word: " + text, false;
    const std::string& word = args[0].second;
    if (word == "set") {
      if (args.size() != 8)
        return why = "set with " + std::to_string(args.size()) + " arguments", false;
      if (args[1].first != "i" || !std::regex_match(args[1].second, kInt))
        return why = "set id", false;
      for (int i = 2; i < 6; ++i)
        if (args[i].first != "f" || !std::regex_match(args[i].second, kFloat))
          return why = "set value " + args[i].second + " is not %f text", false;
      if (args[6] != std::make_pair(std::string("f"), std::string("0.0")) || args[7] != args[6])
        return why = "set without its two zero values", false;
      doc.touches.push_back(
          {std::stoi(args[1].second), std::stod(args[2].second), std::stod(args[3].second)});
    } else if (word == "alive") {
      for (std::size_t i = 1; i < args.size(); ++i) doc.alive.push_back(std::stoi(args[i].second));
    } else if (word == "fseq") {
      if (args.size() != 2 || args[1].first != "i") return why = "bad fseq", false;
      doc.fseq = std::stoi(args[1].second);
    } else {
      return why = "unknown word " + word, false;
    }
  }
  return true;
}

}  // namespace testsupport
