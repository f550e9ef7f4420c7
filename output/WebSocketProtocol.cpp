#include "output/WebSocketProtocol.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/Sha1.h"
#include "platform/Trace.h"

namespace ws {
namespace {

constexpr std::string_view kGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string Base64(const std::uint8_t* data, std::size_t size) {
  std::string out;
  for (std::size_t i = 0; i < size; i += 3) {
    const std::uint32_t n = (std::uint32_t(data[i]) << 16) |
                            (i + 1 < size ? std::uint32_t(data[i + 1]) << 8 : 0) |
                            (i + 2 < size ? std::uint32_t(data[i + 2]) : 0);
    out += kBase64[(n >> 18) & 63];
    out += kBase64[(n >> 12) & 63];
    out += i + 1 < size ? kBase64[(n >> 6) & 63] : '=';
    out += i + 2 < size ? kBase64[n & 63] : '=';
  }
  return out;
}

// Sets `field` once; a second header of the same name makes the head
// malformed (two Origins could be read differently by two parsers).
bool SetOnce(std::string_view& field, bool& seen, std::string_view value) {
  if (seen) return false;
  seen = true;
  field = value;
  return true;
}

// Every character of `s` a letter, a digit or one of `others`.
bool MadeOf(std::string_view s, const char* others) {
  for (char c : s) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alnum && (c == '\0' || std::strchr(others, c) == nullptr)) return false;
  }
  return true;
}

// A header name: RFC 7230's token characters, nothing else (no blanks).
bool IsToken(std::string_view name) {
  return !name.empty() && MadeOf(name, "!#$%&'*+-.^_`|~");
}

// A Host value that may stand in a header of ours: a name or address and a
// port, nothing that could end or add a directive.
bool PlainHost(std::string_view host) {
  return !host.empty() && host.size() <= 255 && MadeOf(host, ".-:[]");
}

// 'sha256-...' of every element `tag` (without attributes) holds in `html`.
std::string HashesOf(std::string_view html, std::string_view tag) {
  const std::string open = "<" + std::string(tag) + ">";
  const std::string close = "</" + std::string(tag) + ">";
  std::string out;
  for (std::size_t at = html.find(open); at != std::string_view::npos;
       at = html.find(open, at + 1)) {
    const std::size_t begin = at + open.size();
    const std::size_t end = html.find(close, begin);
    if (end == std::string_view::npos) break;
    platform::Sha256Digest digest;
    if (!platform::Sha256(html.data() + begin, end - begin, digest)) continue;
    out += " 'sha256-" + Base64(digest.data(), digest.size()) + "'";
  }
  return out.empty() ? " 'none'" : out;
}

// The target without its query.
std::string_view Path(const RequestHead& head) {
  return head.target.substr(0, head.target.find('?'));
}

bool ValidCloseCode(std::uint16_t code) {
  return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1011) ||
         (code >= 3000 && code <= 4999);
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool HasToken(std::string_view list, std::string_view token) {
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    if (EqualsNoCase(Trim(list.substr(0, comma)), token)) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

HeadParse ParseRequestHead(std::string_view bytes, RequestHead& out) {
  out = RequestHead{};
  const std::size_t end = bytes.find("\r\n\r\n");
  if (end == std::string_view::npos) return HeadParse::kIncomplete;
  out.length = end + 4;
  std::string_view rest = bytes.substr(0, end + 2);

  const std::size_t lineEnd = rest.find("\r\n");
  std::string_view line = rest.substr(0, lineEnd);
  rest.remove_prefix(lineEnd + 2);
  const std::size_t s1 = line.find(' ');
  const std::size_t s2 = s1 == std::string_view::npos ? s1 : line.find(' ', s1 + 1);
  if (s2 == std::string_view::npos || line.find(' ', s2 + 1) != std::string_view::npos)
    return HeadParse::kMalformed;
  out.method = line.substr(0, s1);
  out.target = line.substr(s1 + 1, s2 - s1 - 1);
  out.version = line.substr(s2 + 1);
  if (out.method.empty() || out.target.empty() || out.version.substr(0, 5) != "HTTP/")
    return HeadParse::kMalformed;

  bool seenConnection = false, seenKey = false, seenVersion = false;
  while (!rest.empty()) {
    const std::size_t e = rest.find("\r\n");
    line = rest.substr(0, e);
    rest.remove_prefix(e + 2);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !IsToken(line.substr(0, colon)))
      return HeadParse::kMalformed;
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = Trim(line.substr(colon + 1));
    bool ok = true;
    if (EqualsNoCase(name, "Host")) {
      ok = SetOnce(out.host, out.hasHost, value);
    } else if (EqualsNoCase(name, "Origin")) {
      ok = SetOnce(out.origin, out.hasOrigin, value);
    } else if (EqualsNoCase(name, "Upgrade")) {
      ok = SetOnce(out.upgrade, out.hasUpgrade, value);
    } else if (EqualsNoCase(name, "Connection")) {
      ok = SetOnce(out.connection, seenConnection, value);
    } else if (EqualsNoCase(name, "Sec-WebSocket-Key")) {
      ok = SetOnce(out.key, seenKey, value);
    } else if (EqualsNoCase(name, "Sec-WebSocket-Version")) {
      ok = SetOnce(out.wsVersion, seenVersion, value);
    }
    if (!ok) return HeadParse::kMalformed;
  }
  return HeadParse::kComplete;
}

std::string AcceptKey(std::string_view key) {
  std::string text(key);
  text += kGuid;
  platform::Sha1Digest digest;
  if (!platform::Sha1(text.data(), text.size(), digest)) return {};
  return Base64(digest.data(), digest.size());
}

bool ValidKey(std::string_view key) {
  if (key.size() != 24 || key.substr(22) != "==") return false;
  for (std::size_t i = 0; i < 22; ++i)
    if (std::strchr(kBase64, key[i]) == nullptr || key[i] == '\0') return false;
  // The last character before the padding carries 4 bits: its low 4 are 0.
  return (std::strchr(kBase64, key[21]) - kBase64) % 16 == 0;
}

OriginPolicy::OriginPolicy(std::string_view address, std::uint16_t port, std::string_view extra) {
  const std::string suffix = ":" + std::to_string(port);
  origins_.push_back("http://127.0.0.1" + suffix);
  origins_.push_back("http://localhost" + suffix);
  const bool loopback = address.empty() || address == "0.0.0.0" || address.substr(0, 4) == "127.";
  if (!loopback) origins_.push_back("http://" + std::string(address) + suffix);
  while (!extra.empty()) {
    const std::size_t sep = extra.find_first_of(" ,\t");
    const std::string_view item = extra.substr(0, sep);
    if (!item.empty()) origins_.emplace_back(item);
    if (sep == std::string_view::npos) break;
    extra.remove_prefix(sep + 1);
  }
}

bool OriginPolicy::Accepts(const RequestHead& head) const {
  if (!head.hasOrigin) return true;
  for (const std::string& o : origins_)
    if (EqualsNoCase(o, head.origin)) return true;
  return false;
}

Page DescribePage(std::string_view html) {
  return {html, "script-src" + HashesOf(html, "script") + "; style-src" + HashesOf(html, "style")};
}

Reply Decide(const RequestHead& head, const OriginPolicy& policy, bool streamingFull,
             const Documents* documents, bool calibration, bool calibrationFull) {
  if (head.method != "GET") return Reply::kMethodNotAllowed;
  // What each path answers; every plain GET is answered and closed without
  // a streaming place.
  const std::string_view path = Path(head);
  const bool calibrationPath = calibration && path == kCalibrationPath;
  if (path != "/" && !calibrationPath) {
    // A document is a plain GET; an upgrade to its path finds nothing.
    if (!documents || head.hasUpgrade || !documents->Serves(path)) return Reply::kNotFound;
    return policy.Accepts(head) ? Reply::kDocument : Reply::kForbidden;
  }
  if (!head.hasUpgrade) return calibrationPath ? Reply::kCalibrationPage : Reply::kPage;
  if (!EqualsNoCase(head.upgrade, "websocket") || !HasToken(head.connection, "upgrade") ||
      head.wsVersion != "13" || !ValidKey(head.key) || head.version != "HTTP/1.1" || !head.hasHost)
    return Reply::kBadRequest;
  if (!policy.Accepts(head)) return Reply::kForbidden;
  if (calibrationPath) return calibrationFull ? Reply::kUnavailable : Reply::kCalibrationUpgrade;
  return streamingFull ? Reply::kUnavailable : Reply::kUpgrade;
}

namespace {

// The answers that refuse a request: status, body and a header of their own.
// The last row answers every other request the listener cannot serve.
struct Refusal {
  Reply reply;
  const char* status;
  const char* body;
  const char* header;
};
constexpr Refusal kRefusals[] = {
    {Reply::kForbidden, "403 Forbidden", "Origin not allowed\n", ""},
    {Reply::kNotFound, "404 Not Found", "Not found\n", ""},
    {Reply::kMethodNotAllowed, "405 Method Not Allowed", "Method not allowed\n", "Allow: GET\r\n"},
    {Reply::kTooLarge, "431 Request Header Fields Too Large", "Request too large\n", ""},
    {Reply::kUnavailable, "503 Service Unavailable", "All streaming places are taken\n",
     "Retry-After: 1\r\n"},
    {Reply::kBadRequest, "400 Bad Request", "Bad request\n", "Sec-WebSocket-Version: 13\r\n"},
};

// A whole answer that ends the connection: `headers` each end in CRLF.
std::string Answer(std::string_view status, std::string_view headers, std::string_view body) {
  std::string r = "HTTP/1.1 ";
  r += status;
  r += "\r\n";
  r += headers;
  r += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
  r += body;
  return r;
}

}  // namespace

std::string Response(Reply reply, const RequestHead& head, const Page& page) {
  if (reply == Reply::kUpgrade || reply == Reply::kCalibrationUpgrade) {
    return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Accept: " +
           AcceptKey(head.key) + "\r\n\r\n";
  }
  if (reply == Reply::kPage || reply == Reply::kCalibrationPage) {
    // Only the page's own script and style run, it talks only to its own
    // WebSocket ('self' covers ws: in newer browsers, the Host in older
    // ones) and no other page may frame it.
    return Answer("200 OK",
                  "Content-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n"
                  "X-Content-Type-Options: nosniff\r\n"
                  "Content-Security-Policy: default-src 'none'; " +
                      page.ownSources + "; connect-src 'self'" +
                      (PlainHost(head.host) ? " ws://" + std::string(head.host) : std::string()) +
                      "; base-uri 'none'; form-action 'none'; frame-ancestors 'none'\r\n",
                  page.html);
  }
  const Refusal* refusal = &kRefusals[std::size(kRefusals) - 1];
  for (const Refusal& r : kRefusals) {
    if (r.reply == reply) refusal = &r;
  }
  return Answer(
      refusal->status,
      std::string(refusal->header) +
          "Content-Type: text/plain; charset=utf-8\r\nX-Content-Type-Options: nosniff\r\n",
      refusal->body);
}

std::string DocumentResponse(std::string_view body, std::string_view contentType) {
  return Answer("200 OK",
                "Content-Type: " + std::string(contentType) +
                    "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n",
                body);
}

std::size_t EncodeFrameHeader(std::uint8_t opcode, std::uint64_t payloadSize,
                              std::uint8_t out[kMaxHeaderBytes]) {
  out[0] = std::uint8_t(0x80 | opcode);
  if (payloadSize < 126) {
    out[1] = std::uint8_t(payloadSize);
    return 2;
  }
  if (payloadSize <= 0xFFFF) {
    out[1] = 126;
    out[2] = std::uint8_t(payloadSize >> 8);
    out[3] = std::uint8_t(payloadSize);
    return 4;
  }
  out[1] = 127;
  for (int i = 0; i < 8; ++i) out[2 + i] = std::uint8_t(payloadSize >> (56 - 8 * i));
  return 10;
}

void EncodeCloseFrame(CloseCode code, std::uint8_t out[kCloseFrameBytes]) {
  EncodeFrameHeader(kClose, 2, out);
  out[2] = std::uint8_t(code >> 8);
  out[3] = std::uint8_t(code);
}

FrameParse ParseFrameHeader(const std::uint8_t* data, std::size_t size, FrameHeader& out) {
  out = FrameHeader{};
  if (size < 2) return FrameParse::kIncomplete;
  out.fin = (data[0] & 0x80) != 0;
  out.opcode = data[0] & 0x0F;
  out.masked = (data[1] & 0x80) != 0;
  if ((data[0] & 0x70) != 0 || !out.masked) return FrameParse::kProtocolError;
  const bool control = (out.opcode & 0x8) != 0;
  if (out.opcode != kContinuation && out.opcode != kText && out.opcode != kBinary &&
      out.opcode != kClose && out.opcode != kPing && out.opcode != kPong)
    return FrameParse::kProtocolError;
  std::uint64_t length = data[1] & 0x7F;
  std::size_t pos = 2;
  if (control && (!out.fin || length > 125)) return FrameParse::kProtocolError;
  if (length == 126) {
    if (size < 4) return FrameParse::kIncomplete;
    length = (std::uint64_t(data[2]) << 8) | data[3];
    pos = 4;
    if (length < 126) return FrameParse::kProtocolError;  // not the shortest form
  } else if (length == 127) {
    if (size < 10) return FrameParse::kIncomplete;
    length = 0;
    for (int i = 0; i < 8; ++i) length = (length << 8) | data[2 + i];
    pos = 10;
    if (length >> 63) return FrameParse::kProtocolError;
    if (length <= 0xFFFF) return FrameParse::kProtocolError;
  }
  // Known as soon as the length is: a huge frame is refused before its
  // payload is buffered.
  if (length > kMaxMessageBytes) return FrameParse::kTooBig;
  if (size < pos + 4) return FrameParse::kIncomplete;
  std::memcpy(out.mask, data + pos, 4);
  out.payloadSize = length;
  out.headerSize = pos + 4;
  return FrameParse::kComplete;
}

bool Utf8Check::Feed(const std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t b = data[i];
    if (need_ > 0) {
      if (b < low_ || b > high_) return false;
      low_ = 0x80;
      high_ = 0xBF;
      --need_;
      continue;
    }
    if (b < 0x80) continue;
    // The lead byte says how many follow and narrows the first of them:
    // E0 and F0 would be overlong below A0 and 90, ED a surrogate from A0
    // on, F4 beyond U+10FFFF from 90 on.
    if (b >= 0xC2 && b <= 0xDF) {
      need_ = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need_ = 2;
      if (b == 0xE0) low_ = 0xA0;
      if (b == 0xED) high_ = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need_ = 3;
      if (b == 0xF0) low_ = 0x90;
      if (b == 0xF4) high_ = 0x8F;
    } else {
      return false;
    }
  }
  return true;
}

Connection::Connection(const OriginPolicy& policy, const Page& page, Documents* documents,
                       const Page* calibration)
    : policy_(policy), page_(page), documents_(documents), calibration_(calibration) {}

void Connection::TakeMessages(std::vector<std::string>& out) {
  out.clear();
  out.swap(messages_);
}

void Connection::Close(std::uint16_t code, std::string_view reason) {
  if (state_ == State::kClosed) return;
  std::uint8_t payload[125] = {std::uint8_t(code >> 8), std::uint8_t(code)};
  const std::size_t n = std::min<std::size_t>(reason.size(), sizeof payload - 2);
  std::memcpy(payload + 2, reason.data(), n);
  SendFrame(kClose, payload, 2 + n);
  event_ = "closed by the service (" + std::to_string(code) + ")";
  state_ = State::kClosed;
  input_.clear();
  consumed_ = 0;
}

std::string Connection::TakeEvent() {
  std::string e;
  e.swap(event_);
  return e;
}

void Connection::Feed(const char* data, std::size_t size, bool streamingFull,
                      bool calibrationFull) {
  if (state_ == State::kClosed) return;
  input_.append(data, size);
  if (state_ == State::kRequest) FeedRequest(streamingFull, calibrationFull);
  if (state_ == State::kOpen) FeedFrames();
  input_.erase(0, consumed_);
  consumed_ = 0;
}

void Connection::FeedRequest(bool streamingFull, bool calibrationFull) {
  RequestHead head;
  const HeadParse parse = ParseRequestHead(input_, head);
  if (parse == HeadParse::kIncomplete) {
    if (input_.size() <= kMaxRequestBytes) return;
    output_ += Response(Reply::kTooLarge, head, page_);
    event_ = "request too large";
    state_ = State::kClosed;
    return;
  }
  if (parse == HeadParse::kMalformed || head.length > kMaxRequestBytes) {
    output_ += Response(parse == HeadParse::kMalformed ? Reply::kBadRequest : Reply::kTooLarge,
                        head, page_);
    event_ = "malformed request";
    state_ = State::kClosed;
    return;
  }
  const Reply reply =
      Decide(head, policy_, streamingFull, documents_, calibration_ != nullptr, calibrationFull);
  reply_ = reply;
  std::string body, type;
  if (reply == Reply::kDocument && documents_->Fetch(Path(head), body, type))
    output_ += DocumentResponse(body, type);
  else
    output_ += Response(reply == Reply::kDocument ? Reply::kNotFound : reply, head,
                        reply == Reply::kCalibrationPage ? *calibration_ : page_);
  if (reply == Reply::kForbidden)
    event_ = std::string("refused origin ") + trace::Escaped(head.origin).c_str();
  if (reply != Reply::kUpgrade && reply != Reply::kCalibrationUpgrade) {
    state_ = State::kClosed;
    return;
  }
  state_ = State::kOpen;
  consumed_ = head.length;
}

void Connection::FeedFrames() {
  while (state_ == State::kOpen) {
    FrameHeader h;
    auto* bytes = reinterpret_cast<std::uint8_t*>(input_.data()) + consumed_;
    const std::size_t size = input_.size() - consumed_;
    const FrameParse parse = ParseFrameHeader(bytes, size, h);
    if (parse == FrameParse::kIncomplete) return;
    if (parse == FrameParse::kProtocolError) return Fail(kProtocolError, "protocol error");
    if (parse == FrameParse::kTooBig) return Fail(kMessageTooBig, "frame too big");
    if (size - h.headerSize < h.payloadSize) return;
    std::uint8_t* payload = bytes + h.headerSize;
    for (std::size_t i = 0; i < h.payloadSize; ++i) payload[i] ^= h.mask[i % 4];
    ++frames_;
    consumed_ += h.headerSize + std::size_t(h.payloadSize);
    HandleFrame(h, payload);
  }
}

void Connection::HandleFrame(const FrameHeader& h, std::uint8_t* payload) {
  const std::size_t size = std::size_t(h.payloadSize);
  switch (h.opcode) {
    case kContinuation:
      if (!fragmented_) return Fail(kProtocolError, "continuation without a message");
      messageSize_ += size;
      if (messageSize_ > kMaxMessageBytes) return Fail(kMessageTooBig, "message too big");
      fragmented_ = !h.fin;
      break;
    case kText:
    case kBinary:
      // The clients' own messages mean nothing to the service: counted, not
      // kept; a text one must still be UTF-8.
      if (fragmented_) return Fail(kProtocolError, "new message inside a fragmented one");
      fragmented_ = !h.fin;
      messageSize_ = size;
      textMessage_ = h.opcode == kText;
      text_ = Utf8Check{};
      break;
    case kPing:
      return SendFrame(kPong, payload, size);
    case kPong:
      return;
    case kClose: {
      if (size == 1) return Fail(kProtocolError, "close frame of one byte");
      std::uint16_t code = kNormalClosure;
      if (size >= 2) {
        code = std::uint16_t((payload[0] << 8) | payload[1]);
        if (!ValidCloseCode(code)) return Fail(kProtocolError, "invalid close code");
        Utf8Check reason;
        if (!reason.Feed(payload + 2, size - 2) || !reason.Complete())
          return Fail(kInvalidPayload, "close reason not UTF-8");
      }
      const std::uint8_t reply[2] = {std::uint8_t(code >> 8), std::uint8_t(code)};
      SendFrame(kClose, reply, size >= 2 ? 2 : 0);
      event_ = "closed by the client (" + std::to_string(code) + ")";
      state_ = State::kClosed;
      return;
    }
    default:
      return Fail(kProtocolError, "unknown opcode");
  }
  // A data frame: text is checked as it comes, whole at its last fragment.
  if (textMessage_ && (!text_.Feed(payload, size) || (h.fin && !text_.Complete())))
    return Fail(kInvalidPayload, "text not UTF-8");
  const std::string_view text(reinterpret_cast<const char*>(payload), size);
  // The message answered here: the status request, in one frame.
  if (h.opcode == kText && h.fin && documents_ && text == kStatusRequest) {
    std::string body, type;
    if (documents_->Fetch(kStatusPath, body, type))
      SendFrame(kText, reinterpret_cast<const std::uint8_t*>(body.data()), body.size());
    return;
  }
  // A conversation's text messages are the service's, whole (a binary one
  // means nothing to it).
  if (Conversation() && textMessage_) {
    message_.append(text);
    if (!fragmented_) messages_.push_back(std::move(message_));
    if (!fragmented_) message_.clear();
  }
}

void Connection::Fail(std::uint16_t code, const char* why) {
  const std::uint8_t payload[2] = {std::uint8_t(code >> 8), std::uint8_t(code)};
  SendFrame(kClose, payload, 2);
  event_ = std::string(why) + ", closed with " + std::to_string(code);
  state_ = State::kClosed;
  input_.clear();
  consumed_ = 0;
}

void Connection::SendFrame(std::uint8_t opcode, const std::uint8_t* payload, std::size_t size) {
  std::uint8_t header[kMaxHeaderBytes];
  output_.append(reinterpret_cast<const char*>(header), EncodeFrameHeader(opcode, size, header));
  output_.append(reinterpret_cast<const char*>(payload), size);
}

}  // namespace ws
