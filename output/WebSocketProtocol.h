#pragma once
// The WebSocket server's decisions without sockets: the HTTP request head,
// the Origin rule, the accept key, client frames in and server frames out.
// One Connection per client holds its protocol state; the listener thread
// feeds it the received bytes and sends what it puts in Output().
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ws {

// A request head longer than this is refused (431) before it is complete.
constexpr std::size_t kMaxRequestBytes = 8192;
// A client message (all its fragments) or a frame longer than this closes
// the client with 1009.
constexpr std::size_t kMaxMessageBytes = 64 * 1024;
// Largest server frame header: opcode byte, 127, eight length bytes.
constexpr std::size_t kMaxHeaderBytes = 10;

enum Opcode : std::uint8_t {
  kContinuation = 0x0,
  kText = 0x1,
  kBinary = 0x2,
  kClose = 0x8,
  kPing = 0x9,
  kPong = 0xA,
};

enum CloseCode : std::uint16_t {
  kNormalClosure = 1000,
  kGoingAway = 1001,  // the service stops
  kProtocolError = 1002,
  kInvalidPayload = 1007,  // a text message or close reason that is not UTF-8
  kMessageTooBig = 1009,
};

bool EqualsNoCase(std::string_view a, std::string_view b);
// `list` (comma-separated tokens, as in Connection and Upgrade) holds `token`.
bool HasToken(std::string_view list, std::string_view token);

// The parts of a request head the server looks at; views into the bytes
// given to ParseRequestHead.
struct RequestHead {
  std::string_view method, target, version;
  std::string_view host, upgrade, connection, key, wsVersion, origin;
  bool hasHost = false;
  bool hasUpgrade = false;
  bool hasOrigin = false;
  std::size_t length = 0;  // bytes up to and including the blank line
};
enum class HeadParse { kIncomplete, kComplete, kMalformed };
// Request line, then "Name: value" lines up to the blank line (CRLF line
// ends). A second Host, Origin, Upgrade or key header, a folded line, a line
// without a colon or a name that is not a token ("Origin : x", whose
// blank a lenient reader drops and a strict one does not) is malformed.
HeadParse ParseRequestHead(std::string_view bytes, RequestHead& out);

// base64(SHA-1(key + the RFC 6455 GUID)); empty if the system's SHA-1 fails.
std::string AcceptKey(std::string_view key);
// A Sec-WebSocket-Key: base64 of 16 bytes (24 characters, "==" at the end).
bool ValidKey(std::string_view key);

// Which origins may open a WebSocket: no Origin header (a native program),
// the service's own page on the listener's address and port, and the
// configured extra origins, compared without regard to case. The Host header
// plays no part: a rebound DNS name would pass it.
class OriginPolicy {
 public:
  OriginPolicy() = default;
  // `extra`: origins separated by blanks or commas.
  OriginPolicy(std::string_view address, std::uint16_t port, std::string_view extra);
  bool Accepts(const RequestHead& head) const;
  const std::vector<std::string>& Origins() const { return origins_; }

 private:
  std::vector<std::string> origins_;
};

// The page served on "GET /" and what its Content-Security-Policy allows of
// it: its own inline scripts and styles, named by their SHA-256.
struct Page {
  std::string_view html;
  std::string ownSources;  // "script-src 'sha256-...'; style-src 'sha256-...'"
};
// `html` is kept by the caller.
Page DescribePage(std::string_view html);

// Documents served beside the page (the status, the metrics), made when
// asked for, on the listener's thread.
class Documents {
 public:
  virtual ~Documents() = default;
  // A path it answers ("/status"), without fetching it.
  virtual bool Serves(std::string_view path) const = 0;
  // The body and content type of `path`; false if there is none.
  virtual bool Fetch(std::string_view path, std::string& body, std::string& contentType) = 0;
};

// The text message a client sends to be answered with the status document
// as one text message: a page that shows the status needs no second
// connection for it.
constexpr std::string_view kStatusRequest = "status";
constexpr std::string_view kStatusPath = "/status";

// The calibration page and its connection: GET and the upgrade on this
// path, when the service holds the conversation.
constexpr std::string_view kCalibrationPath = "/calibrate";

enum class Reply {
  kPage,
  kCalibrationPage,     // GET /calibrate
  kCalibrationUpgrade,  // its connection: text messages, no stream
  kDocument,            // a path `documents` serves (the status, the metrics)
  kUpgrade,
  kBadRequest,
  kForbidden,
  kNotFound,
  kMethodNotAllowed,
  kTooLarge,
  kUnavailable,  // an upgrade while every streaming place is taken
};
// What the server answers a complete head with. An upgrade needs HTTP/1.1
// and one Host, as every browser sends; plain GETs (the page, the
// documents) need no streaming place, so `streamingFull` refuses upgrades
// only. A document is read under the upgrade's Origin rule: a foreign page
// gets 403, so only the service's own page can read it. `calibration`: the
// calibration page is served; `calibrationFull`: its connections are all
// taken (503).
Reply Decide(const RequestHead& head, const OriginPolicy& policy, bool streamingFull = false,
             const Documents* documents = nullptr, bool calibration = false,
             bool calibrationFull = false);
// The whole HTTP response for `reply` (`page`'s bytes for either page, the
// accept key for an upgrade; Document answers come from DocumentResponse).
std::string Response(Reply reply, const RequestHead& head, const Page& page);
// A 200 answer carrying a document (not stored by caches, not sniffed).
std::string DocumentResponse(std::string_view body, std::string_view contentType);

// Checks UTF-8 as it arrives in pieces (the fragments of a text message):
// no overlong forms, surrogates or code points beyond U+10FFFF.
class Utf8Check {
 public:
  // False at the first byte that cannot continue valid UTF-8.
  bool Feed(const std::uint8_t* data, std::size_t size);
  // No sequence left open.
  bool Complete() const { return need_ == 0; }

 private:
  int need_ = 0;  // continuation bytes still due
  std::uint8_t low_ = 0x80, high_ = 0xBF;
};

// The header of a server frame (FIN set, no mask) of `opcode` carrying
// `payloadSize` bytes, written to `out`; its length.
std::size_t EncodeFrameHeader(std::uint8_t opcode, std::uint64_t payloadSize,
                              std::uint8_t out[kMaxHeaderBytes]);
// A whole server close frame carrying `code` and no reason.
constexpr std::size_t kCloseFrameBytes = 4;
void EncodeCloseFrame(CloseCode code, std::uint8_t out[kCloseFrameBytes]);

struct FrameHeader {
  bool fin = false;
  std::uint8_t opcode = 0;
  bool masked = false;
  std::uint8_t mask[4] = {};
  std::uint64_t payloadSize = 0;
  std::size_t headerSize = 0;
};
enum class FrameParse { kIncomplete, kComplete, kProtocolError, kTooBig };
// A client frame's header from the bytes received so far: reserved bits,
// unknown opcodes, an unmasked frame, a fragmented or long (> 125) control
// frame are protocol errors; a payload over kMaxMessageBytes is too big.
FrameParse ParseFrameHeader(const std::uint8_t* data, std::size_t size, FrameHeader& out);

// One client's protocol state.
class Connection {
 public:
  enum class State { kRequest, kOpen, kClosed };

  // `documents` (may be null): what GET answers beside the page, and the
  // status a client asks for with a text message.
  // `calibration` (may be null): the calibration page, served on
  // kCalibrationPath with its connection.
  Connection(const OriginPolicy& policy, const Page& page, Documents* documents = nullptr,
             const Page* calibration = nullptr);

  // Takes received bytes; answers (HTTP, pongs, close frames) are appended
  // to Output(). `streamingFull`: an upgrade would find no place (503);
  // `calibrationFull` likewise for the calibration page's connection.
  void Feed(const char* data, std::size_t size, bool streamingFull = false,
            bool calibrationFull = false);
  // Upgraded on the calibration path: its text messages are kept for the
  // service (TakeMessages), it is sent no stream.
  bool Conversation() const { return reply_ == Reply::kCalibrationUpgrade; }
  // The whole text messages received since the last call (a conversation's
  // only; the status request is answered here, not kept).
  void TakeMessages(std::vector<std::string>& out);
  // The service closes: a close frame with `code` and `reason` (at most 123
  // bytes of it), nothing after it.
  void Close(std::uint16_t code, std::string_view reason);
  State CurrentState() const { return state_; }
  // Upgraded and not closing: binary messages may be sent.
  bool Open() const { return state_ == State::kOpen; }
  // Closed: once Output() is sent, the socket is closed.
  bool Finished() const { return state_ == State::kClosed; }
  std::string& Output() { return output_; }
  // What happened that deserves a trace line (a refused origin, a close
  // and its code); empty otherwise. Cleared by the call.
  std::string TakeEvent();
  // The answer to the request (once it was complete).
  Reply Decision() const { return reply_; }
  // Frames received since the upgrade, for the listener's rate limit.
  std::uint64_t FramesReceived() const { return frames_; }

 private:
  void FeedRequest(bool streamingFull, bool calibrationFull);
  void FeedFrames();
  void HandleFrame(const FrameHeader& h, std::uint8_t* payload);
  void Fail(std::uint16_t code, const char* why);
  void SendFrame(std::uint8_t opcode, const std::uint8_t* payload, std::size_t size);

  const OriginPolicy& policy_;
  const Page& page_;
  Documents* documents_;
  const Page* calibration_;
  std::string message_;                // a conversation's text message so far
  std::vector<std::string> messages_;  // its whole ones, not yet taken
  State state_ = State::kRequest;
  Reply reply_ = Reply::kBadRequest;
  // Received bytes from `consumed_` on are not handled yet; the handled
  // ones are dropped once per Feed, not once per frame.
  std::string input_;
  std::size_t consumed_ = 0;
  std::uint64_t frames_ = 0;
  Utf8Check text_;            // the text message being received
  bool textMessage_ = false;  // the fragmented message is text
  std::string output_;
  std::string event_;
  bool fragmented_ = false;      // a data message is waiting for its continuation
  std::size_t messageSize_ = 0;  // bytes of the fragmented message so far
};

}  // namespace ws
