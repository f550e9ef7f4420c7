// The TUIO stream listeners: the WebSocket protocol core over one table of
// client inputs, then the listeners on real loopback sockets (framing,
// client limit, a client that falls behind, a port in use, no allocation
// on the publishing path).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "output/StreamListener.h"
#include "output/WebSocketProtocol.h"
#include "platform/Socket.h"
#include "platform/SocketNative.h"
#include "platform/Trace.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/TraceCapture.h"
#include "tests/support/WaitFor.h"

namespace {

using testsupport::WaitFor;

// The sample key and accept value of the WebSocket RFC.
constexpr const char* kKey = "dGhlIHNhbXBsZSBub25jZQ==";
constexpr const char* kAccept = "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=";

std::string Upgrade(const std::string& extraHeaders = "", const std::string& key = kKey,
                    const std::string& line = "GET / HTTP/1.1") {
  return line +
         "\r\nHost: 127.0.0.1:3334\r\nUpgrade: websocket\r\nConnection: keep-alive, Upgrade\r\n"
         "Sec-WebSocket-Key: " +
         key + "\r\nSec-WebSocket-Version: 13\r\n" + extraHeaders + "\r\n";
}

// A client frame, masked unless `mask` is false. `length` overrides the
// length field (for frames that lie about it).
std::string Frame(std::uint8_t first, const std::string& payload, bool mask = true,
                  unsigned long long length = ~0ULL) {
  const unsigned long long n = length == ~0ULL ? payload.size() : length;
  std::string f(1, char(first));
  const char m = mask ? char(0x80) : 0;
  if (n < 126) {
    f += char(m | char(n));
  } else if (n <= 0xFFFF) {
    f += char(m | 126);
    f += char(n >> 8);
    f += char(n);
  } else {
    f += char(m | 127);
    for (int i = 7; i >= 0; --i) f += char(n >> (8 * i));
  }
  const char key[4] = {0x11, 0x22, 0x33, 0x44};
  if (mask) f.append(key, 4);
  for (std::size_t i = 0; i < payload.size(); ++i)
    f += mask ? char(payload[i] ^ key[i % 4]) : payload[i];
  return f;
}

std::string Close(std::uint16_t code) {
  return std::string{char(0x88), 2, char(code >> 8), char(code & 0xFF)};
}

struct ProtocolCase {
  const char* name;
  std::string input;
  ws::Connection::State state;
  std::vector<std::string> output;  // each must appear in what the server sends
  std::string event;                // must appear in the trace event
  bool bytewise = false;            // fed one byte at a time
  bool full = false;                // every streaming place is taken
};

TEST(WebSocketProtocol, AnswersEachClientInput) {
  using State = ws::Connection::State;
  const std::string up = Upgrade();
  const std::string ok101 = std::string("HTTP/1.1 101 Switching Protocols\r\n");
  const std::string accept = std::string("Sec-WebSocket-Accept: ") + kAccept + "\r\n";
  const std::string big(70000, 'b');
  const std::vector<ProtocolCase> cases = {
      {"page",
       "GET / HTTP/1.1\r\nHost: x\r\n\r\n",
       State::kClosed,
       {"HTTP/1.1 200 OK\r\n", "Content-Type: text/html; charset=utf-8\r\n",
        "Cache-Control: no-store\r\n", "Content-Length: 29\r\n", "\r\n\r\n<p>page</p",
        "X-Content-Type-Options: nosniff\r\n",
        "Content-Security-Policy: default-src 'none'; script-src "
        "'sha256-LXEWQrcmsEQBYnyp+6wy9chTD7GQPMTbAiWHF5IaSIE='; style-src 'none'; connect-src "
        "'self' "
        "ws://x; base-uri 'none'; form-action 'none'; frame-ancestors 'none'\r\n"}},
      {"page while every streaming place is taken",
       "GET / HTTP/1.1\r\n\r\n",
       State::kClosed,
       {"200 OK", "connect-src 'self';"},
       "",
       false,
       true},
      {"upgrade while every streaming place is taken",
       up,
       State::kClosed,
       {"HTTP/1.1 503 Service Unavailable\r\n", "Retry-After: 1\r\n"},
       "",
       false,
       true},
      {"upgrade over HTTP/1.0", Upgrade("", kKey, "GET / HTTP/1.0"), State::kClosed, {"400"}},
      {"upgrade over HTTP/9", Upgrade("", kKey, "GET / HTTP/9"), State::kClosed, {"400"}},
      {"upgrade without Host",
       std::string(up).erase(up.find("Host:"), 22),
       State::kClosed,
       {"400 Bad Request"}},
      {"upgrade with two Hosts", Upgrade("Host: evil.example\r\n"), State::kClosed, {"400"}},
      {"blank before a colon", Upgrade("Origin : http://evil\r\n"), State::kClosed, {"400"}},
      {"origin forging a line",
       Upgrade("Origin: http://a\nvantrel 1.000 info: x\x1b[2J\x7f\\\r\n"),
       State::kClosed,
       {"403"},
       "refused origin http://a\\x0avantrel 1.000 info: x\\x1b[2J\\x7f\\\\"},
      {"text not UTF-8", up + Frame(0x81, "\xC0\xAF"), State::kClosed, {Close(1007)}, "1007"},
      {"UTF-8 split between fragments",
       up + Frame(0x01, "\xE2\x82") + Frame(0x80, "\xAC\xF0\x9F\x98\x80"),
       State::kOpen,
       {ok101}},
      {"text ending inside a character",
       up + Frame(0x81, "a\xE2\x82"),
       State::kClosed,
       {Close(1007)}},
      {"surrogate", up + Frame(0x81, "\xED\xA0\x80"), State::kClosed, {Close(1007)}},
      {"beyond U+10FFFF", up + Frame(0x81, "\xF4\x90\x80\x80"), State::kClosed, {Close(1007)}},
      {"binary need not be UTF-8", up + Frame(0x82, "\xC0\xAF"), State::kOpen, {ok101}},
      {"close reason not UTF-8",
       up + Frame(0x88, "\x03\xE8\xFF"),
       State::kClosed,
       {Close(1007)},
       "close reason not UTF-8"},
      {"page with query", "GET /?x=1 HTTP/1.1\r\n\r\n", State::kClosed, {"200 OK"}},
      {"native client", up, State::kOpen, {ok101, accept, "Upgrade: websocket\r\n"}},
      {"own page", Upgrade("Origin: http://localhost:3334\r\n"), State::kOpen, {ok101}},
      {"own page, any case", Upgrade("Origin: HTTP://127.0.0.1:3334\r\n"), State::kOpen, {ok101}},
      {"listed origin", Upgrade("Origin: http://kiosk.local:8000\r\n"), State::kOpen, {ok101}},
      {"foreign origin",
       Upgrade("Origin: http://evil.example\r\n"),
       State::kClosed,
       {"HTTP/1.1 403 Forbidden\r\n"},
       "refused origin http://evil.example"},
      {"own host, other port",
       Upgrade("Origin: http://localhost:8080\r\n"),
       State::kClosed,
       {"403"}},
      {"null origin", Upgrade("Origin: null\r\n"), State::kClosed, {"403"}},
      {"two origins",
       Upgrade("Origin: http://localhost:3334\r\nOrigin: http://evil.example\r\n"),
       State::kClosed,
       {"400 Bad Request"}},
      {"other path", "GET /x HTTP/1.1\r\n\r\n", State::kClosed, {"404 Not Found"}},
      {"post", "POST / HTTP/1.1\r\n\r\n", State::kClosed, {"405 Method Not Allowed", "Allow: GET"}},
      {"old version",
       Upgrade().replace(up.find("Version: 13"), 11, "Version: 8"),
       State::kClosed,
       {"400 Bad Request", "Sec-WebSocket-Version: 13"}},
      {"bad key", Upgrade("", "short=="), State::kClosed, {"400"}},
      {"key with stray bits", Upgrade("", "dGhlIHNhbXBsZSBub25jZR=="), State::kClosed, {"400"}},
      {"header without colon", "GET / HTTP/1.1\r\nbroken\r\n\r\n", State::kClosed, {"400"}},
      {"folded header", "GET / HTTP/1.1\r\nA: b\r\n c\r\n\r\n", State::kClosed, {"400"}},
      {"request line", "GET /\r\n\r\n", State::kClosed, {"400"}},
      {"incomplete head", "GET / HTTP/1.1\r\nHost: x\r\n", State::kRequest, {}},
      {"endless head",
       "GET / HTTP/1.1\r\nX: " + std::string(9000, 'a'),
       State::kClosed,
       {"431 Request Header Fields Too Large"},
       "request too large"},
      {"ping",
       up + Frame(0x89, "abc"),
       State::kOpen,
       {ok101, std::string("\x8A\x03"
                           "abc")}},
      {"byte by byte", up + Frame(0x89, "xy"), State::kOpen, {ok101, "\x8A\x02xy"}, "", true},
      {"pong and messages ignored",
       up + Frame(0x8A, "p") + Frame(0x81, "hi") + Frame(0x82, "\x01"),
       State::kOpen,
       {ok101}},
      {"close",
       up + Frame(0x88,
                  "\x03\xE8"
                  "bye"),
       State::kClosed,
       {Close(1000)},
       "(1000)"},
      {"empty close", up + Frame(0x88, ""), State::kClosed, {std::string("\x88\x00", 2)}},
      {"close of one byte", up + Frame(0x88, "\x03"), State::kClosed, {Close(1002)}},
      {"close with a reserved code", up + Frame(0x88, "\x03\xED"), State::kClosed, {Close(1002)}},
      {"unmasked", up + Frame(0x82, "x", false), State::kClosed, {Close(1002)}, "1002"},
      {"reserved bit", up + Frame(0xC2, "x"), State::kClosed, {Close(1002)}},
      {"unknown opcode", up + Frame(0x83, "x"), State::kClosed, {Close(1002)}},
      {"fragmented ping", up + Frame(0x09, "x"), State::kClosed, {Close(1002)}},
      {"long ping", up + Frame(0x89, std::string(126, 'p')), State::kClosed, {Close(1002)}},
      {"huge length, no payload",
       up + Frame(0x82, "", true, 1LL << 40),
       State::kClosed,
       {Close(1009)},
       "1009"},
      {"negative length", up + Frame(0x82, "", true, 1ULL << 63), State::kClosed, {Close(1002)}},
      {"too long a frame", up + Frame(0x82, big), State::kClosed, {Close(1009)}},
      {"fragments with a ping between",
       up + Frame(0x01, "he") + Frame(0x89, "p") + Frame(0x00, "l") + Frame(0x80, "lo"),
       State::kOpen,
       {"\x8A\x01p"}},
      {"continuation first", up + Frame(0x80, "x"), State::kClosed, {Close(1002)}},
      {"message inside a message",
       up + Frame(0x01, "a") + Frame(0x81, "b"),
       State::kClosed,
       {Close(1002)}},
      {"fragments too long together",
       up + Frame(0x02, std::string(40000, 'a')) + Frame(0x80, std::string(40000, 'b')),
       State::kClosed,
       {Close(1009)}},
      {"nothing after a close", up + Frame(0x88, "") + Frame(0x89, "late"), State::kClosed, {}},
  };
  const ws::OriginPolicy policy("127.0.0.1", 3334, "http://kiosk.local:8000, http://x:1");
  const ws::Page page = ws::DescribePage("<p>page</p><script>x</script>");
  for (const ProtocolCase& c : cases) {
    SCOPED_TRACE(c.name);
    ws::Connection conn(policy, page);
    std::string event;
    if (c.bytewise) {
      for (char b : c.input) conn.Feed(&b, 1);
    } else {
      conn.Feed(c.input.data(), c.input.size(), c.full);
    }
    event = conn.TakeEvent();
    EXPECT_EQ(int(conn.CurrentState()), int(c.state));
    for (const std::string& o : c.output) EXPECT_NE(conn.Output().find(o), std::string::npos) << o;
    if (c.output.empty() && c.state == State::kRequest) EXPECT_EQ(conn.Output(), "");
    if (std::string(c.name) == "nothing after a close")
      EXPECT_EQ(conn.Output().find("late"), std::string::npos);
    EXPECT_NE(event.find(c.event), std::string::npos) << event;
  }
}

TEST(WebSocketProtocol, OwnOriginsFollowTheListenAddress) {
  EXPECT_EQ(ws::OriginPolicy("192.168.1.5", 80, "").Origins(),
            (std::vector<std::string>{"http://127.0.0.1:80", "http://localhost:80",
                                      "http://192.168.1.5:80"}));
  EXPECT_EQ(ws::OriginPolicy("0.0.0.0", 9, " a ,b").Origins().size(), 4u);
  std::uint8_t h[ws::kMaxHeaderBytes];
  EXPECT_EQ(ws::EncodeFrameHeader(ws::kBinary, 125, h), 2u);
  EXPECT_EQ(ws::EncodeFrameHeader(ws::kBinary, 126, h), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(h), 4), std::string("\x82\x7E\x00\x7E", 4));
  EXPECT_EQ(ws::EncodeFrameHeader(ws::kBinary, 65536, h), 10u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(h), 10),
            std::string("\x82\x7F\x00\x00\x00\x00\x00\x01\x00\x00", 10));
  std::uint8_t close[ws::kCloseFrameBytes];
  ws::EncodeCloseFrame(ws::kGoingAway, close);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(close), 4), std::string("\x88\x02\x03\xE9", 4));
}

// --- The listeners on loopback sockets -----------------------------------

// A client socket of the test; reads with a deadline.
struct TestClient {
  explicit TestClient(std::uint16_t port) : s(platform::ConnectTcp("127.0.0.1", port)) {}
  ~TestClient() { platform::CloseSocket(s); }
  void Send(const std::string& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const long n = platform::SendSome(s, bytes.data() + done, bytes.size() - done);
      ASSERT_GE(n, 0);
      done += std::size_t(n);
    }
  }
  // Reads until `n` bytes are there; what arrived (shorter if the peer closed).
  std::string Read(std::size_t n, int timeoutMs = 3000) {
    std::string got;
    if (n == 0) return got;
    char buf[4096];
    WaitFor(
        [&] {
          if (platform::WaitReadable(s, 10) <= 0) return got.size() >= n;
          const long r = platform::Receive(s, buf, std::min(sizeof buf, n - got.size()));
          if (r == 0 || r == platform::kReceiveError) ended = true;
          if (r > 0) got.append(buf, std::size_t(r));
          return got.size() >= n || ended;
        },
        timeoutMs);
    return got;
  }
  std::string ReadHead() {
    std::string head;
    while (head.find("\r\n\r\n") == std::string::npos) {
      const std::string b = Read(1);
      if (b.empty()) break;
      head += b;
    }
    return head;
  }
  platform::SocketHandle s;
  bool ended = false;
};

StreamListener::Options TestOptions() {
  StreamListener::Options o;
  o.enabled = true;
  o.port = 0;
  return o;
}

std::string Packet(std::size_t size, char fill) {
  return std::string(size, fill);
}

TEST(StreamListeners, FrameEveryPacketForEveryClient) {
  ASSERT_TRUE(platform::StartSockets());
  StreamListener tcp(StreamListener::Kind::kTuioTcp, TestOptions());
  StreamListener web(StreamListener::Kind::kWebSocket, TestOptions(), "<p>live</p>");
  tcp.Start();
  web.Start();
  ASSERT_TRUE(WaitFor([&] { return tcp.Port() != 0 && web.Port() != 0; }));
  TestClient a(tcp.Port()), b(tcp.Port()), w(web.Port()), page(web.Port());
  w.Send(Upgrade());
  const std::string head = w.ReadHead();
  EXPECT_NE(head.find(kAccept), std::string::npos) << head;
  page.Send("GET / HTTP/1.1\r\n\r\n");
  const std::string pageReply = page.Read(1000);
  EXPECT_NE(pageReply.find("\r\n\r\n<p>live</p>"), std::string::npos);
  EXPECT_TRUE(page.ended);  // the page's connection is closed after the reply
  ASSERT_TRUE(WaitFor([&] { return tcp.StreamingClients() == 2 && web.StreamingClients() == 1; }));

  const std::vector<std::string> packets = {Packet(20, 'a'), Packet(125, 'b'), Packet(126, 'c'),
                                            Packet(1500, 'd'), Packet(65536, 'e')};
  std::string tcpWant, webWant;
  for (const std::string& p : packets) {
    tcp.OfferPacket(p.data(), p.size());
    web.OfferPacket(p.data(), p.size());
    const std::uint32_t n = std::uint32_t(p.size());
    tcpWant += std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + p;
    std::uint8_t h[ws::kMaxHeaderBytes];
    webWant.append(reinterpret_cast<char*>(h), ws::EncodeFrameHeader(ws::kBinary, n, h));
    webWant += p;
  }
  EXPECT_TRUE(a.Read(tcpWant.size()) == tcpWant);
  EXPECT_TRUE(b.Read(tcpWant.size()) == tcpWant);
  EXPECT_TRUE(w.Read(webWant.size()) == webWant);

  // An unmasked frame closes that client only (1002).
  TestClient bad(web.Port());
  bad.Send(Upgrade());
  bad.ReadHead();
  bad.Send(Frame(0x82, "x", false));
  EXPECT_EQ(bad.Read(5), Close(1002));
  EXPECT_TRUE(bad.ended);
  EXPECT_TRUE(WaitFor([&] { return web.StreamingClients() == 1; }));

  // A ping is answered between whole messages, even while big ones are
  // queued; a close is echoed and ends it.
  const std::string big = Packet(60000, 'f');
  for (int i = 0; i < 2; ++i) web.OfferPacket(big.data(), big.size());
  w.Send(Frame(0x89, "hi"));
  std::vector<std::string> frames;
  while (frames.size() < 3) {
    const std::string h = w.Read(4);
    ASSERT_EQ(h.size(), 4u);
    const std::size_t n = h[1] == 126 ? (std::uint8_t(h[2]) << 8 | std::uint8_t(h[3])) : 2;
    frames.push_back(h + w.Read(n - (h[1] == 126 ? 0 : 2)));
  }
  std::sort(frames.begin(), frames.end());
  EXPECT_EQ(frames[0].substr(0, 4), "\x82\x7E\xEA\x60");
  EXPECT_EQ(frames[0].size(), 60004u);
  EXPECT_EQ(frames[1], frames[0]);
  EXPECT_EQ(frames[2], "\x8A\x02hi");
  w.Send(Frame(0x88, "\x03\xE8"));
  EXPECT_EQ(w.Read(4), Close(1000));
  EXPECT_TRUE(WaitFor([&] { return web.StreamingClients() == 0; }));

  // Stopping sends what is still queued, then closes.
  tcp.OfferPacket("bye", 3);
  tcp.Stop();
  EXPECT_EQ(a.Read(8), std::string("\0\0\0\3bye", 7));
  platform::StopSockets();
}

TEST(StreamListeners, LimitClientsDropLaggardsAndNeverAllocate) {
  ASSERT_TRUE(platform::StartSockets());
  testsupport::TraceCapture traces(trace::Level::kInfo);
  StreamListener::Options o = TestOptions();
  o.maxClients = 2;
  o.queueBytes = 64 * 1024;
  o.sendBufferBytes = 4096;
  StreamListener tcp(StreamListener::Kind::kTuioTcp, o);
  tcp.Start();
  ASSERT_TRUE(WaitFor([&] { return tcp.Port() != 0; }));
  TestClient reader(tcp.Port()), sleeper(tcp.Port());
  ASSERT_TRUE(WaitFor([&] { return tcp.StreamingClients() == 2; }));
  TestClient third(tcp.Port());
  EXPECT_EQ(third.Read(1), "");
  EXPECT_TRUE(third.ended);
  EXPECT_TRUE(traces.Has("tuio-tcp: 2 clients already connected, connection refused"));

  // The publishing side allocates nothing (measured while no other thread
  // of the test runs; the listener thread's buffers are warm by then).
  const std::string p = Packet(1000, 'x');
  int offered = 0;
  auto offer = [&](int n) {
    for (int i = 0; i < n; ++i, ++offered) tcp.OfferPacket(p.data(), p.size());
  };
  offer(4);
  // The listener thread has sent them (its buffers are warm).
  ASSERT_EQ(reader.Read(4 * 1004, 30000).size(), 4u * 1004);
  const std::uint64_t before = testsupport::Allocations();
  offer(8);
  EXPECT_EQ(testsupport::Allocations() - before, 0u);

  std::atomic<bool> reading{true};
  std::atomic<std::size_t> received{4 * 1004};
  std::thread drain([&] {
    char buf[65536];
    while (reading) {
      if (platform::WaitReadable(reader.s, 5) <= 0) continue;
      const long r = platform::Receive(reader.s, buf, sizeof buf);
      if (r > 0) received += std::size_t(r);
    }
  });
  while (tcp.DroppedClients() == 0 && offered < 20000) {
    offer(1);
    // Slow enough for the reader under Wine too: 64 ms of queue.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  offer(10);
  EXPECT_TRUE(WaitFor([&] { return received == std::size_t(offered) * 1004; }, 5000));
  reading = false;
  drain.join();
  EXPECT_EQ(tcp.DroppedClients(), 1u);
  EXPECT_EQ(tcp.StreamingClients(), 1);
  EXPECT_TRUE(traces.Has("tuio-tcp: client fell behind, dropped"));
  tcp.Stop();
  platform::StopSockets();
}

// One client's flood, half-closed readers, a full house, silent
// connections and a storm of refused ones: each costs only its own client.
TEST(StreamListeners, HostileClientsCostOnlyThemselves) {
  ASSERT_TRUE(platform::StartSockets());
  testsupport::TraceCapture traces(trace::Level::kInfo);
  StreamListener::Options o = TestOptions();
  o.maxClients = 2;
  StreamListener web(StreamListener::Kind::kWebSocket, o, "<p>live</p>");
  StreamListener tcp(StreamListener::Kind::kTuioTcp, o);
  web.Start();
  tcp.Start();
  ASSERT_TRUE(WaitFor([&] { return tcp.Port() != 0 && web.Port() != 0; }));
  TestClient halfTcp(tcp.Port()), reader(web.Port()), flooder(web.Port());
  reader.Send(Upgrade());
  flooder.Send(Upgrade());
  EXPECT_NE(reader.ReadHead().find(" 101 "), std::string::npos);
  EXPECT_NE(flooder.ReadHead().find(" 101 "), std::string::npos);
  // Both readers shut their sending side (what "nc host port </dev/null" does).
  ::shutdown(platform::AsNativeSocket(halfTcp.s), 1);
  ::shutdown(platform::AsNativeSocket(reader.s), 1);
  ASSERT_TRUE(WaitFor([&] { return tcp.StreamingClients() == 1 && web.StreamingClients() == 2; }));

  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    std::string burst;
    for (int i = 0; i < 500; ++i) burst += Frame(0x82, "");
    while (flooding && platform::SendSome(flooder.s, burst.data(), burst.size()) >= 0) {
    }
  });
  std::string tcpWant, webWant;
  const std::string p = Packet(20, 'p');
  for (int i = 0; i < 300; ++i) {
    web.OfferPacket(p.data(), p.size());
    tcp.OfferPacket(p.data(), p.size());
    tcpWant += std::string("\0\0\0\x14", 4) + p;
    webWant += "\x82\x14" + p;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  flooding = false;
  flood.join();
  EXPECT_TRUE(reader.Read(webWant.size()) == webWant);
  EXPECT_TRUE(halfTcp.Read(tcpWant.size()) == tcpWant);
  EXPECT_TRUE(traces.Has("websocket: client sends more than any reader would, closed"));
  EXPECT_TRUE(WaitFor([&] { return web.StreamingClients() == 1; }));

  // Every streaming place taken: an upgrade is refused (503), the page is
  // still served.
  TestClient second(web.Port()), third(web.Port()), page(web.Port());
  second.Send(Upgrade());
  EXPECT_NE(second.ReadHead().find(" 101 "), std::string::npos);
  third.Send(Upgrade());
  EXPECT_NE(third.ReadHead().find(" 503 "), std::string::npos);
  page.Send("GET / HTTP/1.1\r\n\r\n");
  EXPECT_NE(page.Read(1000).find("<p>live</p>"), std::string::npos);

  // Silent connections fill every other place; each new one closes the
  // oldest of them, so an honest client still gets in.
  std::vector<std::unique_ptr<TestClient>> silent;
  for (int i = 0; i < StreamListener::kRequestPlaces + 4; ++i) {
    silent.push_back(std::make_unique<TestClient>(web.Port()));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  TestClient witness(web.Port());
  witness.Send("GET / HTTP/1.1\r\n\r\n");
  EXPECT_NE(witness.Read(1000).find("<p>live</p>"), std::string::npos);
  EXPECT_EQ(silent[0]->Read(1), "");
  EXPECT_TRUE(silent[0]->ended);
  EXPECT_TRUE(traces.Has("every place taken, the oldest connection without a request closed"));

  // A storm of refused connections costs a line a second, with the count.
  TestClient secondTcp(tcp.Port());
  ASSERT_TRUE(WaitFor([&] { return tcp.StreamingClients() == 2; }));
  for (int i = 0; i < 50; ++i) TestClient refused(tcp.Port());
  EXPECT_TRUE(WaitFor([&] { return traces.Has("connections refused, every place taken"); }));
  std::lock_guard<std::mutex> lock(traces.mutex);
  std::istringstream text(traces.text);
  std::size_t lines = 0;
  for (std::string line; std::getline(text, line);)
    lines +=
        line.find("tuio-tcp: ") != std::string::npos && line.find("refused") != std::string::npos;
  EXPECT_LE(lines, 3u) << traces.text;
}

TEST(StreamListeners, APortInUseIsReportedWithTheSystemsText) {
  ASSERT_TRUE(platform::StartSockets());
  testsupport::TraceCapture traces(trace::Level::kInfo);
  std::string error;
  const platform::SocketHandle taken = platform::OpenTcpListenerOn("127.0.0.1", 0, 1, &error);
  ASSERT_NE(taken, platform::kInvalidSocket) << error;
  StreamListener::Options o = TestOptions();
  o.port = platform::LocalPort(taken);
  StreamListener web(StreamListener::Kind::kWebSocket, o);
  web.Start();
  const std::string line = "websocket: cannot listen on 127.0.0.1:" + std::to_string(o.port) + ": ";
  EXPECT_TRUE(WaitFor([&] { return traces.Has(line.c_str()); })) << line;
  EXPECT_EQ(web.Port(), 0);
  web.Stop();
  EXPECT_EQ(platform::OpenTcpListenerOn("300.1.1.1", 0, 1, &error), platform::kInvalidSocket);
  EXPECT_EQ(error, "not an IPv4 address");
  platform::CloseSocket(taken);
  platform::StopSockets();
}

}  // namespace
