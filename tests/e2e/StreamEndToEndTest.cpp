// The TUIO streams of the service program, black box: while the frame
// simulator plays a gesture, a TCP reader on 3333 and a WebSocket client on
// 3334 must receive exactly the datagrams a UDP receiver on 3333 gets (the
// TCP packets also decoded by liblo), sixteen clients and no more, a
// foreign page refused, a client that never reads dropped while UDP goes
// on, and a port in use reported while the rest runs. Natively the service
// is build/native/app/vantrel; the Windows build runs Vantrel.exe under
// Wine through the same test (VANTREL_E2E_SERVICE).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/OscCapture.h"
#include "tests/support/ServiceProcess.h"
#include "tests/support/SimControl.h"
#include "tests/support/StreamClient.h"
#include "tests/support/WaitFor.h"

namespace {

using testsupport::Packets;
using testsupport::ServiceProcess;
using testsupport::WaitFor;
using Client = testsupport::StreamClient;

constexpr int kReadyMs = 90000;
constexpr int kExitMs = 30000;

class StreamEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.connected());
    ASSERT_EQ(sim_.last("add single-a f calvalid=0"), "ok f");
    // Relative: each service writes its trace into its own folder.
    ::setenv("VANTREL_LOG_FILE", "trace.log", 1);
  }
  void StartService() {
    udp_ = std::make_unique<testsupport::UdpCapture>(3333);
    service_ =
        std::make_unique<ServiceProcess>(sim_.address(), std::vector<std::string>{"--log", "info"});
    ASSERT_TRUE(service_->waitReady(kReadyMs)) << service_->output();
  }
  std::string Trace() const {
    std::ifstream in(service_->dir() + "/trace.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str() + service_->output();
  }
  // A client that got through (the listener may start a moment after ready).
  std::unique_ptr<Client> Connect(int port, int receiveBuffer = 0) {
    std::unique_ptr<Client> c;
    WaitFor([&] { return (c = std::make_unique<Client>(port, receiveBuffer))->connected(); },
            10000);
    return c;
  }
  // Taps until the UDP receiver sees bundles, then waits for the quiet.
  void TapUntilUdpServes() {
    ASSERT_TRUE(WaitFor(
        [&] {
          sim_.last("tap f 0.9,0.9");
          return !udp_->drain(200).empty();
        },
        20000));
    while (!udp_->drain(300, 100).empty()) {
    }
  }

  // Reads both streams until each has as many packets as UDP got (taking
  // datagrams still arriving too): they must be those datagrams.
  void ExpectStreamsCarry(Packets& udp, Client& tcp, Client& web) {
    Packets overTcp, overWeb;
    WaitFor(
        [&] {
          for (auto& d : udp_->drain(50, 10)) udp.push_back(d);
          tcp.Pump(20);
          web.Pump(20);
          for (auto& p : tcp.TakeTcp()) overTcp.push_back(p);
          for (auto& p : web.TakeWebSocket()) overWeb.push_back(p);
          return overTcp.size() >= udp.size() && overWeb.size() >= udp.size();
        },
        10000);
    EXPECT_TRUE(overTcp == udp) << overTcp.size() << " TCP packets, " << udp.size() << " datagrams";
    EXPECT_TRUE(overWeb == udp) << overWeb.size() << " messages, " << udp.size() << " datagrams";
    for (const auto& p : overTcp) EXPECT_NO_THROW(testsupport::DecodeBundle(p));
  }

  testsupport::SimControl sim_;
  std::unique_ptr<testsupport::UdpCapture> udp_;
  std::unique_ptr<ServiceProcess> service_;
};

TEST_F(StreamEndToEnd, StreamsCarryTheUdpDatagramsToSixteenClientsAndDropALaggard) {
  ASSERT_NO_FATAL_FAILURE(StartService());
  std::unique_ptr<Client> tcp = Connect(3333);
  std::unique_ptr<Client> web = Connect(3334);
  ASSERT_TRUE(tcp->connected() && web->connected());
  const std::string head = web->Upgrade();
  EXPECT_EQ(head.rfind("HTTP/1.1 101 Switching Protocols\r\n", 0), 0u) << head;
  EXPECT_NE(head.find("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"), std::string::npos);

  // The service's own page may connect; any other page may not.
  EXPECT_EQ(Connect(3334)->Upgrade("http://localhost:3334").rfind("HTTP/1.1 101", 0), 0u);
  EXPECT_EQ(Connect(3334)->Upgrade("http://evil.example").rfind("HTTP/1.1 403 Forbidden", 0), 0u);

  // Sixteen TCP clients stream; the seventeenth is closed at once.
  std::vector<std::unique_ptr<Client>> more;
  for (int i = 0; i < 15; ++i) more.push_back(Connect(3333));
  Client extra(3333);
  EXPECT_TRUE(WaitFor([&] { return extra.Pump(50), extra.ended(); }, 10000));

  ASSERT_NO_FATAL_FAILURE(TapUntilUdpServes());
  tcp->Pump(100);
  web->Pump(100);
  tcp->Clear();
  web->Clear();

  ASSERT_EQ(sim_.last("gesture f 400 0.2,0.3>0.4,0.45 0.7,0.25>0.55,0.6"), "ok");
  Packets udp;
  WaitFor(
      [&] {
        for (auto& d : udp_->drain(300, 100)) udp.push_back(d);
        if (udp.size() <= 10) return false;
        // A look for the quiet keeps what it finds (a pause under load).
        const Packets more = udp_->drain(300, 100);
        udp.insert(udp.end(), more.begin(), more.end());
        return more.empty();
      },
      20000);
  ASSERT_GT(udp.size(), 10u);
  ExpectStreamsCarry(udp, *tcp, *web);
  for (auto& c : more) {
    EXPECT_GT(c->Pump(50).size(), 0u);
    EXPECT_FALSE(c->ended());
  }

  // A WebSocket client that never reads: dropped, while UDP and the
  // reading clients go on.
  more.clear();
  std::unique_ptr<Client> sleeper = Connect(3334, 4096);
  EXPECT_EQ(sleeper->Upgrade().rfind("HTTP/1.1 101", 0), 0u);
  std::size_t datagrams = 0;
  const bool dropped = WaitFor(
      [&] {
        sim_.last("gesture f 300 0.1,0.1>0.9,0.9 0.9,0.1>0.1,0.9");
        datagrams += udp_->drain(50, 20).size();
        tcp->Pump(1);
        tcp->Clear();
        return Trace().find("websocket: client fell behind, dropped") != std::string::npos;
      },
      60000);
  EXPECT_TRUE(dropped) << Trace();
  EXPECT_GT(datagrams, 100u);
  EXPECT_FALSE(tcp->ended());
  EXPECT_EQ(service_->interruptAndWait(kExitMs), 0);
}

// What careless and hostile clients do costs only themselves, one start of
// the service for all of it.
TEST_F(StreamEndToEnd, HostileClientsCostOnlyThemselves) {
  ASSERT_NO_FATAL_FAILURE(StartService());
  // Readers that shut their sending side (what "nc 127.0.0.1 3333 </dev/null" does).
  std::unique_ptr<Client> tcp = Connect(3333);
  std::unique_ptr<Client> web = Connect(3334);
  tcp->ShutSending();
  EXPECT_EQ(web->Upgrade().rfind("HTTP/1.1 101", 0), 0u);
  web->ShutSending();
  // An Origin that would forge a trace line is refused and traced escaped.
  EXPECT_EQ(Connect(3334)->Upgrade("http://a\nvantrel 1.000 info: forged").rfind("HTTP/1.1 403", 0),
            0u);
  ASSERT_NO_FATAL_FAILURE(TapUntilUdpServes());
  tcp->Pump(100);
  web->Pump(100);
  tcp->Clear();
  web->Clear();

  // For 10 s one client floods empty masked frames as fast as it can,
  // coming back whenever it is closed; the readers miss nothing.
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    std::string burst;
    for (int i = 0; i < 1000; ++i) burst += std::string("\x82\x80\x01\x02\x03\x04", 6);
    while (flooding) {
      Client f(3334);
      if (f.Upgrade().rfind("HTTP/1.1 101", 0) != 0) continue;
      while (flooding && f.Send(burst)) {
      }
    }
  });
  ASSERT_EQ(sim_.last("gesture f 9000 0.2,0.3>0.4,0.45 0.7,0.25>0.55,0.6"), "ok");
  Packets udp;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    for (auto& d : udp_->drain(5, 1)) udp.push_back(d);
    tcp->Pump(1);
    web->Pump(1);
  }
  flooding = false;
  flood.join();
  ExpectStreamsCarry(udp, *tcp, *web);
  EXPECT_GT(udp.size(), 300u);
  EXPECT_FALSE(web->ended() || tcp->ended());
  const std::string trace = Trace();
  EXPECT_NE(trace.find("websocket: client sends more than any reader would, closed"),
            std::string::npos);
  EXPECT_EQ(trace.find("fell behind"), std::string::npos) << trace.substr(0, 4000);
  EXPECT_NE(trace.find("refused origin http://a\\x0avantrel 1.000 info: forged"),
            std::string::npos);
  EXPECT_EQ(trace.find("\nvantrel 1.000 info: forged"), std::string::npos);

  // Every streaming place taken and every other place held by silent
  // connections: the page is still served. (Packets first: a flooding
  // client that closed is gone once a send to it fails.)
  ASSERT_NO_FATAL_FAILURE(TapUntilUdpServes());
  std::vector<std::unique_ptr<Client>> held;
  for (int i = 0; i < 15; ++i) {
    // The last flooding client's place is free once the listener has seen
    // it close, which a loaded machine may take a while to show.
    EXPECT_TRUE(WaitFor(
        [&] {
          held.push_back(Connect(3334));
          if (held.back()->Upgrade().rfind("HTTP/1.1 101", 0) == 0) return true;
          held.pop_back();
          return false;
        },
        10000))
        << "place " << i;
  }
  for (int i = 0; i < 12; ++i) held.push_back(Connect(3334));
  std::unique_ptr<Client> page = Connect(3334);
  page->Send("GET / HTTP/1.1\r\nHost: 127.0.0.1:3334\r\n\r\n");
  EXPECT_TRUE(WaitFor([&] { return page->Pump(20), page->ended(); }, 10000));
  EXPECT_EQ(page->Pump(0).rfind("HTTP/1.1 200 OK\r\n", 0), 0u);

  // Fifty connections beyond the sixteen TCP places cost a line or two.
  for (int i = 0; i < 15; ++i) held.push_back(Connect(3333));
  for (int i = 0; i < 50; ++i) Client refused(3333);
  // Lines a second or more apart whose counts add up to the fifty (the
  // trace file's lines come once more in the program's output).
  std::vector<std::string> refusals;
  unsigned total = 0;
  bool apart = true;
  WaitFor(
      [&] {
        std::istringstream lines(Trace());
        refusals.clear();
        total = 0;
        unsigned s = 0, ms = 0, lastMs = 0, n = 0;
        for (std::string line; std::getline(lines, line);) {
          if (line.find("tuio-tcp: ") == std::string::npos ||
              line.find("refused") == std::string::npos ||
              std::find(refusals.begin(), refusals.end(), line) != refusals.end() ||
              std::sscanf(line.c_str(), "vantrel %u.%u", &s, &ms) != 2)
            continue;
          apart = apart && (total == 0 || s * 1000 + ms - lastMs >= 990);
          lastMs = s * 1000 + ms;
          refusals.push_back(line);
          const bool counted = line.find("every place taken: ") != std::string::npos;
          total += counted && std::sscanf(line.c_str() + line.rfind(": ") + 2, "%u", &n) ? n : 1;
        }
        return total >= 50;
      },
      10000);
  EXPECT_EQ(total, 50u) << ::testing::PrintToString(refusals);
  EXPECT_TRUE(apart) << ::testing::PrintToString(refusals);
  EXPECT_EQ(service_->interruptAndWait(kExitMs), 0);
}

TEST_F(StreamEndToEnd, APortInUseIsTracedAndTheRestRuns) {
  const int taken = ::socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;  // the first test's connections may linger in TIME_WAIT
  ::setsockopt(taken, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(3334);
  ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(taken, 1), 0);
  ASSERT_NO_FATAL_FAILURE(StartService());
  ASSERT_NO_FATAL_FAILURE(TapUntilUdpServes());
  std::unique_ptr<Client> tcp = Connect(3333);
  EXPECT_TRUE(tcp->connected());
  EXPECT_TRUE(WaitFor(
      [&] {
        return Trace().find("websocket: cannot listen on 127.0.0.1:3334: ") != std::string::npos;
      },
      10000))
      << Trace();
  EXPECT_EQ(service_->interruptAndWait(kExitMs), 0);
  ::close(taken);
}

}  // namespace
