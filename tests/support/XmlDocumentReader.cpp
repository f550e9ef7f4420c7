#include "tests/support/XmlDocumentReader.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>

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

}  // namespace testsupport
