// The status the HTTP port answers: the frame's record (present, faults
// only while open), the JSON and text-format writers over one snapshot, and
// what the WebSocket port answers for the documents (Origin rule, the
// "status" text message). The live output is linted by promtool (HELP, TYPE,
// _total) and parsed by jq in the end-to-end test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/FrameStatus.h"
#include "output/StatusDocuments.h"
#include "output/WebSocketProtocol.h"

namespace {

double fakeNow = 1000;
double FakeClock() {
  return fakeNow;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(FrameStatus, TellsPresenceAndFaultsOnlyWhileOpen) {
  FrameStatus status(&FakeClock);
  status.RecordFault(FrameFault::kReadError, "before any frame");
  EXPECT_FALSE(status.View().seen);
  DeviceProfile p;
  p.ProductID = 0x0021;
  fakeNow = 1001;
  status.Opened(p, "path-a");
  status.RecordFault(FrameFault::kWriteRefused, "the device does not answer");
  EXPECT_TRUE(status.View().present);
  EXPECT_EQ(status.View().since, 1001);

  // Closing: absent since then, the frame's identity kept; what the closing
  // handles answer is no fault, and a second close is no change.
  fakeNow = 1003;
  status.Closed();
  status.RecordFault(FrameFault::kReadError, "closed");
  status.Closed();
  const FrameStatusView v = status.View();
  EXPECT_TRUE(!v.present && v.seen && v.since == 1003 && v.productId == 0x0021);
  EXPECT_EQ(v.lastFault, FrameFault::kWriteRefused);
  EXPECT_EQ(v.faults[int(FrameFault::kReadError)], 0u);

  // A read that fails as the frame is pulled is the removal, not a fault;
  // one that fails longer before it stays one, and so does a run the reader
  // kept (its reads came back, or failed until the frame counted as gone).
  struct PullCase {
    double readFailsAt, closedAt;
    bool kept;
    FrameFault last;
    std::uint64_t readErrors;
  };
  for (const PullCase& c : {PullCase{1010, 1010.4, false, FrameFault::kWriteRefused, 0},
                            PullCase{1020, 1022, false, FrameFault::kReadError, 2},
                            PullCase{1030, 1030.6, true, FrameFault::kReadError, 4}}) {
    fakeNow = c.readFailsAt - 1;
    status.Opened(p, "path-b");
    fakeNow = c.readFailsAt;
    status.RecordFault(FrameFault::kReadError, "the device was removed");
    status.RecordFault(FrameFault::kReadError, "the device was removed");  // the other reader
    if (c.kept) status.KeepReadFaults();
    fakeNow = c.closedAt;
    status.Closed();
    EXPECT_EQ(status.View().lastFault, c.last) << c.readFailsAt;
    EXPECT_EQ(status.View().faults[int(FrameFault::kReadError)], c.readErrors) << c.readFailsAt;
  }
}

StatusSnapshot Sample() {
  StatusSnapshot s;
  s.startedAt = 1796768708.5;
  s.uptime = 12.25;
  FrameStatusView& f = s.frame;
  f.present = f.seen = true;
  f.vendorId = 0x3D5E, f.productId = 0x0021, f.versionNumber = 0x3301;
  f.path = "\\\\?\\hid#\"odd\"\n\xE9";
  f.since = 1796768709;
  f.reports = 42;
  f.faults[int(FrameFault::kReadError)] = 2;
  f.lastFault = FrameFault::kReadError;
  f.lastFaultDetail = "gone";
  f.lastFaultAt = 1796768710.25;
  s.touches = 7;
  s.touchesDown = 1;
  s.listener[kUdpListener] = {true, 0, 0, 0, 99};
  s.listener[kXmlListener] = {true, 3000, 1, 3, 40};
  s.listener[kWebSocketListener] = {true, 3334, 2, 0, 150};
  return s;  // TCP switched off
}

TEST(StatusDocuments, JsonCarriesEveryFigureEscaped) {
  const std::string j = StatusJson(Sample());
  for (const char* part :
       {"{\"version\":\"1.1.4.9\",\"started\":\"2026-12-08T22:25:08.500Z\",\"uptime_seconds\":12."
        "250",
        "\"frame\":{\"present\":true,\"class\":\"multi-touch\",\"vendor_id\":\"3D5E\","
        "\"product_id\":\"0021\",\"version\":\"3301\"",
        "\"path\":\"\\\\\\\\?\\\\hid#\\\"odd\\\"\\u000a\\u00e9\"",
        "\"reports_received\":42,\"touches_published\":7,\"touches_down\":1",
        "\"udp\":{\"enabled\":true,\"packets_sent\":99}",
        "\"xml\":{\"enabled\":true,\"port\":3000,\"clients\":1,\"clients_dropped\":3,"
        "\"packets_sent\":40}",
        "\"tcp\":{\"enabled\":false,\"port\":null",
        "\"last_fault\":{\"kind\":\"read error\",\"detail\":\"gone\","
        "\"at\":\"2026-12-08T22:25:10.250Z\"}",
        "\"faults\":{\"read_error\":2,\"write_refused\":0,\"sleep\":0}}\n"})
    EXPECT_TRUE(Has(j, part)) << part << "\n" << j;

  EXPECT_EQ(IsoTime(951782400.5), "2000-02-29T00:00:00.500Z");
  EXPECT_EQ(IsoTime(4102444799.9996), "2100-01-01T00:00:00.000Z");  // rounds into the next day
  EXPECT_STREQ(FrameClassName(0x0210, true), "Series01xx");
  const std::string none = StatusJson(StatusSnapshot{});
  EXPECT_TRUE(Has(none, "\"class\":null,") && Has(none, "\"last_fault\":null")) << none;
}

TEST(StatusDocuments, MetricsFollowTheTextFormatsConventions) {
  const std::string m = StatusMetrics(Sample());
  for (const char* line : {
           "vantrel_frame_faults_total{fault=\"read_error\"} 2\n",
           "vantrel_listener_packets_sent_total{listener=\"udp\"} 99\n",
           "vantrel_listener_clients_dropped_total{listener=\"xml\"} 3\n",
           "vantrel_listener_clients{listener=\"websocket\"} 2\n",
           "path=\"\\\\\\\\?\\\\hid#\\\"odd\\\"\\n\xE9\"} 1\n",
       })
    EXPECT_TRUE(Has(m, line)) << line << "\n" << m;
  EXPECT_FALSE(Has(m, "listener=\"tcp\"")) << "a listener switched off has no series";
  EXPECT_TRUE(Has(StatusMetrics(StatusSnapshot{}), "vantrel_frame_present 0\n"));
  EXPECT_FALSE(Has(StatusMetrics(StatusSnapshot{}), "vantrel_frame_info"));
}

// What the WebSocket port answers for the documents, over one table.
class FixedDocuments : public ws::Documents {
 public:
  bool Serves(std::string_view path) const override {
    return path == "/status" || path == "/metrics";
  }
  bool Fetch(std::string_view path, std::string& body, std::string& type) override {
    if (!Serves(path)) return false;
    body = std::string("doc ") + std::string(path);
    type = "application/json";
    return true;
  }
};

std::string ClientText(const std::string& payload, std::uint8_t first = 0x81) {
  std::string f{char(first), char(0x80 | payload.size()), 1, 2, 3, 4};
  for (std::size_t i = 0; i < payload.size(); ++i) f += char(payload[i] ^ (1 + i % 4));
  return f;
}

TEST(StatusDocuments, ServedUnderThePagesOriginRule) {
  const std::string upgrade =
      " HTTP/1.1\r\nHost: 127.0.0.1:3334\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
  const std::string up = "GET /" + upgrade;
  const std::string answer = std::string("\x81\x0B") + "doc /status";
  struct Case {
    const char* name;
    std::string input;
    std::vector<std::string> output;
    bool refused = false;
    bool streamingFull = false;
  };
  const std::vector<Case> cases = {
      {"status",
       "GET /status HTTP/1.1\r\n\r\n",
       {"HTTP/1.1 200 OK\r\n", "Content-Type: application/json\r\n", "Cache-Control: no-store\r\n",
        "X-Content-Type-Options: nosniff\r\n", "Content-Length: 11\r\n", "\r\n\r\ndoc /status"}},
      {"every streaming place taken", "GET /metrics HTTP/1.1\r\n\r\n", {"200 OK"}, false, true},
      {"metrics, own page",
       "GET /metrics?x HTTP/1.1\r\nOrigin: http://localhost:3334\r\n\r\n",
       {"200 OK", "doc /metrics"}},
      {"foreign page",
       "GET /status HTTP/1.1\r\nOrigin: http://evil.example\r\n\r\n",
       {"403 Forbidden"},
       true},
      {"unknown path", "GET /statusx HTTP/1.1\r\n\r\n", {"404 Not Found"}},
      {"upgrade to it", "GET /status" + upgrade, {"404 Not Found"}},
      {"post", "POST /status HTTP/1.1\r\n\r\n", {"405"}},
      {"status message", up + ClientText("status") + ClientText("status"), {answer + answer}},
      {"other text", up + ClientText("statuses"), {"101"}},
      {"binary", up + ClientText("status", 0x82), {"101"}},
      {"fragmented", up + ClientText("sta", 0x01) + ClientText("tus", 0x80), {"101"}},
  };
  const ws::OriginPolicy policy("127.0.0.1", 3334, "");
  const ws::Page page = ws::DescribePage("<p>page</p>");
  FixedDocuments documents;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ws::Connection conn(policy, page, &documents);
    conn.Feed(c.input.data(), c.input.size(), c.streamingFull);
    for (const std::string& o : c.output) EXPECT_TRUE(Has(conn.Output(), o)) << conn.Output();
    EXPECT_FALSE(Has(conn.Output(), "Access-Control"));
    if (c.output[0] == "101") {
      EXPECT_FALSE(Has(conn.Output(), "doc "));
    }
    EXPECT_EQ(Has(conn.TakeEvent(), "refused origin"), c.refused);
  }
}

}  // namespace
