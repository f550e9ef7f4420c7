#include "tools/monitor/TouchDocumentReader.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace monitor {
namespace {

struct Tag {
  std::string name;
  bool closing = false;      // </NAME>
  bool selfClosing = false;  // <NAME ... />
  std::map<std::string, std::string> attributes;
};

class Lexer {
 public:
  explicit Lexer(std::string_view s) : s_(s) {}
  bool AtEnd() const { return i_ >= s_.size(); }

  // The next tag; false (with `error`) on anything else.
  bool Next(Tag& tag, std::string& error) {
    tag = Tag{};
    if (s_[i_] != '<') return Fail(error, "text outside a tag");
    ++i_;
    if (Peek() == '/') {
      tag.closing = true;
      ++i_;
    }
    if (!Name(tag.name)) return Fail(error, "tag without a name");
    for (;;) {
      SkipSpace();
      if (AtEnd()) return Fail(error, "unterminated tag");
      if (s_[i_] == '>') {
        ++i_;
        return true;
      }
      if (s_[i_] == '/' && !tag.closing) {
        ++i_;
        if (Peek() != '>') return Fail(error, "stray '/' in a tag");
        ++i_;
        tag.selfClosing = true;
        return true;
      }
      if (tag.closing) return Fail(error, "attributes in a closing tag");
      std::string key, value;
      if (!Name(key)) return Fail(error, "bad attribute name");
      SkipSpace();
      if (Peek() != '=') return Fail(error, "attribute without '='");
      ++i_;
      SkipSpace();
      const char quote = Peek();
      if (quote != '"' && quote != '\'') return Fail(error, "unquoted attribute value");
      const std::size_t end = s_.find(quote, i_ + 1);
      if (end == std::string_view::npos) return Fail(error, "unterminated attribute value");
      value = std::string(s_.substr(i_ + 1, end - i_ - 1));
      i_ = end + 1;
      if (!tag.attributes.emplace(key, value).second) return Fail(error, "repeated attribute");
    }
  }

 private:
  char Peek() const { return AtEnd() ? '\0' : s_[i_]; }
  void SkipSpace() {
    while (!AtEnd() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n')) ++i_;
  }
  bool Name(std::string& out) {
    const std::size_t start = i_;
    while (!AtEnd() && (std::isalnum(static_cast<unsigned char>(s_[i_])) || s_[i_] == '_' ||
                        s_[i_] == '-' || s_[i_] == ':'))
      ++i_;
    out = std::string(s_.substr(start, i_ - start));
    return !out.empty();
  }
  bool Fail(std::string& error, const char* what) {
    error = std::string(what) + " at offset " + std::to_string(i_);
    return false;
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

// Both readers' failure: the reason, if asked for, and no result.
std::nullopt_t Fail(std::string* error, const std::string& what) {
  if (error) *error = what;
  return std::nullopt;
}

std::string Attribute(const Tag& t, const char* key) {
  auto it = t.attributes.find(key);
  return it == t.attributes.end() ? std::string() : it->second;
}

bool ParseInt(const std::string& s, std::int32_t& out) {
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
  out = std::int32_t(v);
  return true;
}

bool ParseFloat(const std::string& s, float& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  out = std::strtof(s.c_str(), &end);
  return *end == '\0';
}

}  // namespace

std::optional<XmlPacket> ParseXmlPacket(std::string_view text, std::string* error) {
  std::string why;
  Lexer lex(text);
  Tag tag;
  XmlPacket packet;
  if (lex.AtEnd()) return Fail(error, "empty document");
  if (!lex.Next(tag, why)) return Fail(error, why);
  if (tag.name != "OSCPACKET" || tag.closing || tag.selfClosing)
    return Fail(error, "the document does not open with OSCPACKET");
  packet.address = Attribute(tag, "ADDRESS");
  packet.port = Attribute(tag, "PORT");
  packet.time = Attribute(tag, "TIME");
  for (;;) {
    if (lex.AtEnd()) return Fail(error, "OSCPACKET is not closed");
    if (!lex.Next(tag, why)) return Fail(error, why);
    if (tag.closing && tag.name == "OSCPACKET") break;
    if (tag.name != "MESSAGE" || tag.closing)
      return Fail(error, "expected MESSAGE, got " + tag.name);
    XmlMessage m;
    m.name = Attribute(tag, "NAME");
    if (!tag.selfClosing) {
      for (;;) {
        if (lex.AtEnd()) return Fail(error, "MESSAGE is not closed");
        if (!lex.Next(tag, why)) return Fail(error, why);
        if (tag.closing && tag.name == "MESSAGE") break;
        if (tag.name != "ARGUMENT" || !tag.selfClosing)
          return Fail(error, "expected ARGUMENT, got " + tag.name);
        m.arguments.push_back({Attribute(tag, "TYPE"), Attribute(tag, "VALUE")});
      }
    }
    packet.messages.push_back(std::move(m));
  }
  if (!lex.AtEnd()) return Fail(error, "text after OSCPACKET");
  return packet;
}

std::optional<TouchDocument> ReadTouchDocument(std::string_view text, std::string* error) {
  auto packet = ParseXmlPacket(text, error);
  if (!packet) return std::nullopt;
  TouchDocument doc;
  bool sawFseq = false;
  for (const XmlMessage& m : packet->messages) {
    if (m.name != "/tuio/2Dcur") return Fail(error, "message " + m.name + " is not /tuio/2Dcur");
    const auto& a = m.arguments;
    if (a.empty() || a[0].type != "s") return Fail(error, "message without a command word");
    const std::string& word = a[0].value;
    if (word == "set") {
      TouchSet s;
      float extra[2];
      const bool ok =
          a.size() == 8 && a[1].type == "i" && ParseInt(a[1].value, s.id) && a[2].type == "f" &&
          ParseFloat(a[2].value, s.x) && a[3].type == "f" && ParseFloat(a[3].value, s.y) &&
          a[4].type == "f" && ParseFloat(a[4].value, s.dx) && a[5].type == "f" &&
          ParseFloat(a[5].value, s.dy) && a[6].type == "f" && ParseFloat(a[6].value, extra[0]) &&
          a[7].type == "f" && ParseFloat(a[7].value, extra[1]);
      if (!ok) return Fail(error, "malformed set message");
      doc.sets.push_back(s);
    } else if (word == "alive") {
      for (std::size_t i = 1; i < a.size(); ++i) {
        std::int32_t id;
        if (a[i].type != "i" || !ParseInt(a[i].value, id))
          return Fail(error, "malformed alive message");
        doc.alive.push_back(id);
      }
    } else if (word == "fseq") {
      if (a.size() != 2 || a[1].type != "i" || !ParseInt(a[1].value, doc.fseq))
        return Fail(error, "malformed fseq message");
      sawFseq = true;
    } else {
      return Fail(error, "unknown command " + word);
    }
  }
  if (!sawFseq) return Fail(error, "no fseq message");
  return doc;
}

std::string Describe(const TouchDocument& doc) {
  std::string s = "#" + std::to_string(doc.fseq) + " alive[";
  for (std::size_t i = 0; i < doc.alive.size(); ++i)
    s += (i ? " " : "") + std::to_string(doc.alive[i]);
  s += "]";
  char buf[96];
  for (const TouchSet& t : doc.sets) {
    if (t.id == 0) continue;  // an empty entry
    std::snprintf(buf, sizeof buf, " %d(%.4f, %.4f)", int(t.id), double(t.x), double(t.y));
    s += buf;
  }
  return s;
}

}  // namespace monitor
