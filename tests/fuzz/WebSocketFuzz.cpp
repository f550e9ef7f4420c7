// libFuzzer: what a client may send to the WebSocket port, through the
// server's protocol core. The upgrade request is fuzzed as it comes, or a
// valid one is put first so the client frames after it (masked or not,
// fragmented, control frames, huge lengths) are fuzzed too; the bytes
// arrive in pieces of fuzzed sizes. Whatever arrives, the server answers
// with one HTTP response first, then only well-formed unmasked frames,
// says nothing once closed, and never buffers more than a message's limit;
// the status and the metrics are served beside the page.
//
// On the calibration page's connection (bit 2) the client's whole text
// messages go to the page's conversation, as the service runs it: whatever
// they say, only the dialog's commands reach the frame, and every message
// to the page is a JSON object with a type.
//
// Input: byte 0 odd = a valid upgrade first, bit 1 = every streaming place
// taken, bit 2 = the upgrade asks for the calibration page, bit 3 = its
// peer is not on this machine; byte 1 = piece size (0: all at once); the
// rest = the client's bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "calibration/WebCalibration.h"
#include "input/DeviceCommands.h"
#include "output/WebSocketProtocol.h"
#include "tests/fuzz/FuzzBytes.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "websocket fuzz: %s\n", what);
  std::abort();
}

// The status and the metrics, as the service serves them beside the page.
class FuzzDocuments : public ws::Documents {
 public:
  static constexpr std::string_view kStatus = "{\"frame\":{}}";
  bool Serves(std::string_view path) const override {
    return path == ws::kStatusPath || path == "/metrics";
  }
  bool Fetch(std::string_view path, std::string& body, std::string& type) override {
    if (!Serves(path)) Fail("fetched a path it does not serve");
    body = path == ws::kStatusPath ? kStatus : "vantrel_frame_present 0\n";
    type = "text/plain";
    return true;
  }
};

// Checks the server frames in `out` from `at`: FIN set, no mask, a known
// opcode, a control payload of at most 125 bytes, the shortest length form;
// the only data frame is the status a client asked for.
void CheckServerFrames(const std::string& out, std::size_t at) {
  while (at < out.size()) {
    if (out.size() - at < 2) Fail("cut frame header");
    const auto b0 = std::uint8_t(out[at]), b1 = std::uint8_t(out[at + 1]);
    if ((b0 & 0xF0) != 0x80 || (b1 & 0x80) != 0) Fail("bad server frame header");
    const std::uint8_t op = b0 & 0x0F;
    const std::size_t n = b1 & 0x7F;
    if (op == ws::kText) {
      if (out.compare(at + 2, n, FuzzDocuments::kStatus) != 0) Fail("a data frame not the status");
    } else if (op != ws::kClose && op != ws::kPong) {
      Fail("server answered with a data frame");
    }
    if (n > 125) Fail("long control frame");
    at += 2 + n;
  }
  if (at != out.size()) Fail("frame longer than the output");
}

// The conversation's two sides, checking what it sends.
class FuzzPages : public WebCalibrationPages {
 public:
  void Send(std::uint64_t, const std::string& text) override {
    if (text.rfind("{\"type\":\"", 0) != 0 || text.back() != '}') Fail("a page message not JSON");
  }
  void Close(std::uint64_t, std::uint16_t code, const std::string& reason) override {
    if (code != WebCalibration::kPolicyViolation || reason.size() > 123) Fail("a bad close");
  }
};

class FuzzFrame : public WebCalibrationFrame {
 public:
  bool held = false;
  bool IsOpen() const override { return true; }
  bool IsSplitChannel() const override { return false; }
  std::uint8_t InputReportId() const override { return 0x02; }
  void Send(const std::uint8_t* c) override {
    if (!held) Fail("a command outside a calibration");
    const bool calibration = c[1] == CMD_CALIBRATION && (c[2] <= 6 || c[2] == CAL_LEAVE);
    if (!calibration && c[1] != CMD_GET_RB_PARAMS && c[1] != CMD_CANCEL)
      Fail("a command the dialog does not send");
  }
  void SetCalibrationValid() override {}
  bool Claim() override { return !held && (held = true); }
  void Release() override { held = false; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzBytes in(data, size);
  const std::uint8_t flags = in.byte();
  const bool upgradeFirst = (flags & 1) != 0;
  const bool full = (flags & 2) != 0;
  const bool calibration = (flags & 4) != 0;
  const bool loopback = (flags & 8) == 0;
  const std::size_t piece = in.byte();
  std::string bytes;
  if (upgradeFirst) {
    bytes = std::string(calibration ? "GET /calibrate" : "GET /") +
            " HTTP/1.1\r\nHost: 127.0.0.1:3334\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
            "Origin: http://localhost:3334\r\n\r\n";
  }
  const std::size_t rest = in.left();
  bytes.resize(bytes.size() + rest);
  in.take(&bytes[bytes.size() - rest], rest);

  static const ws::OriginPolicy policy("127.0.0.1", 3334, "http://kiosk.local:8000");
  static const ws::Page page = ws::DescribePage("<p>page</p><script>x</script>");
  static FuzzDocuments documents;
  static const ws::Page calibrationPage = ws::DescribePage("<p>calibrate</p>");
  ws::Connection conn(policy, page, &documents, &calibrationPage);
  FuzzPages pages;
  FuzzFrame frame;
  WebCalibration web(pages, frame);
  WebFrameInfo info{true, false, true, 0x2105, "single-channel", 1.0};
  std::vector<std::string> messages;
  std::int64_t now = 0;
  bool opened = false;
  std::string out;
  bool closedBefore = false;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t n = piece == 0 ? bytes.size() - at : std::min(piece, bytes.size() - at);
    const std::size_t outBefore = out.size();
    conn.Feed(bytes.data() + at, n, full);
    at += n;
    out += conn.Output();
    conn.Output().clear();
    conn.TakeEvent();
    conn.TakeMessages(messages);
    if (!conn.Conversation() && !messages.empty()) Fail("messages kept off the calibration path");
    if (conn.Conversation() && !opened) {
      web.Opened(1, loopback, now);
      web.Tick(info, frame.held, now);
      opened = true;
    }
    for (const std::string& m : messages) {
      web.Message(1, m, now += 10);
      if (!loopback && frame.held) Fail("a peer elsewhere started a calibration");
    }
    if (closedBefore && out.size() != outBefore) Fail("output after the close");
    closedBefore = conn.Finished();
  }
  if (opened) web.Closed(1, now);
  if (frame.held) Fail("a calibration outlived its page");
  const bool refused = full && !calibration;
  if (upgradeFirst &&
      out.rfind(refused ? "HTTP/1.1 503 " : "HTTP/1.1 101 Switching Protocols\r\n", 0) != 0)
    Fail("a valid upgrade was not answered as it should");
  if (!out.empty() && out.rfind("HTTP/1.1 ", 0) != 0) Fail("output without a status line");
  if (conn.CurrentState() == ws::Connection::State::kRequest && !out.empty())
    Fail("answered before the request was complete");
  const std::size_t head = out.find("\r\n\r\n");
  if (out.rfind("HTTP/1.1 101 ", 0) == 0) {
    CheckServerFrames(out, head + 4);
  } else if (!out.empty() && !conn.Finished()) {
    Fail("an HTTP answer other than 101 must end the connection");
  }
  return 0;
}
