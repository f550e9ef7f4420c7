// Per-record cost of the touch outputs (native): one TUIO bundle sent over
// UDP and one XML document sent over TCP per record, with both receivers
// draining on their own threads. Reports the median and 99th percentile of
// single records and the heap allocations per record in steady state.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "output/TouchOutputs.h"
#include "platform/Socket.h"
#include "tests/support/AllocationCounter.h"

namespace {

const int kPaceUs = std::getenv("PACE_US") ? std::atoi(std::getenv("PACE_US")) : 125;

// One millisecond per frame opened: every record is a new sample, so every
// move is sent, as it is when reports arrive a polling interval apart.
std::int32_t gTick = 0;
TUIO::SessionTime SteppedClock() {
  return TUIO::SessionTime::fromMilliseconds(++gTick);
}

// A UDP socket and an XML client, each read and discarded by a thread.
class DrainingReceivers {
 public:
  DrainingReceivers() {
    udp_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(udp_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(udp_, reinterpret_cast<sockaddr*>(&a), &len);
    udpPort_ = ntohs(a.sin_port);
    udpThread_ = std::thread([this] {
      char buf[65536];
      while (!stop_)
        if (platform::WaitReadable(udp_, 20) == 1) ::recv(udp_, buf, sizeof buf, MSG_DONTWAIT);
    });
  }
  void connectXml(std::uint16_t port) {
    tcp_ = platform::ConnectTcp("127.0.0.1", port);
    tcpThread_ = std::thread([this] {
      char buf[65536];
      while (!stop_)
        if (platform::WaitReadable(tcp_, 20) == 1 && platform::Receive(tcp_, buf, sizeof buf) == 0)
          break;
    });
  }
  ~DrainingReceivers() {
    stop_ = true;
    udpThread_.join();
    if (tcpThread_.joinable()) tcpThread_.join();
    ::close(udp_);
    platform::CloseSocket(tcp_);
  }
  int udpPort() const { return udpPort_; }

 private:
  int udp_ = -1;
  int udpPort_ = 0;
  platform::SocketHandle tcp_ = platform::kInvalidSocket;
  std::atomic<bool> stop_{false};
  std::thread udpThread_, tcpThread_;
};

// Which outputs a run sends to: both (the service), or one of them alone to
// see where the time goes.
enum Sinks { kBoth = 0, kTuioOnly = 1, kXmlOnly = 2 };

template <typename Record>
void RunRecords(benchmark::State& state, OutputDevice device, Record record) {
  const int sinks = int(state.range(0));
  DrainingReceivers rx;
  OutputEndpoints e;
  if (sinks == kXmlOnly) e.protocol = "none";
  e.tuioPort = rx.udpPort();
  e.xml.port = 0;
  e.clock = &SteppedClock;
  // Room for the draining client to lag while this busy machine schedules
  // it late: the benchmark measures the sender with its client connected.
  e.xmlBacklogBytes = 64 * 1024 * 1024;
  TouchOutputs outputs(e);
  outputs.setDevice(device);
  outputs.startXmlListener();
  while (outputs.xmlPort() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (sinks != kTuioOnly) {
    rx.connectXml(outputs.xmlPort());
    while (!outputs.xmlLink().connected())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  outputs.startTouchOutput();

  std::uint32_t i = 0;
  for (int warm = 0; warm < 1000; ++warm) record(outputs, i++);

  std::vector<double> ns;
  ns.reserve(std::size_t(state.max_iterations));
  const std::uint64_t allocationsBefore = testsupport::Allocations();
  // Records arrive kPaceUs apart (a high-speed frame reports every 125 us),
  // sleeping in between as the reader thread waits for its next report.
  auto next = std::chrono::steady_clock::now();
  for (auto _ : state) {
    std::this_thread::sleep_until(next += std::chrono::microseconds(kPaceUs));
    const auto t0 = std::chrono::steady_clock::now();
    record(outputs, i++);
    const auto t1 = std::chrono::steady_clock::now();
    ns.push_back(double(std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count()));
  }
  const std::uint64_t allocations = testsupport::Allocations() - allocationsBefore;
  const std::size_t n = ns.size();
  std::sort(ns.begin(), ns.end());
  state.counters["median_us"] = ns[n / 2] / 1000.0;
  state.counters["p99_us"] = ns[std::min(n - 1, n * 99 / 100)] / 1000.0;
  state.counters["allocs_per_record"] = double(allocations) / double(n);
  state.counters["xml_drops"] = double(outputs.xmlLink().droppedClients());
  outputs.stopTouchOutput();
}

// Two points held and moving on a two-point frame.
void BM_TwoPointFrame(benchmark::State& state) {
  RunRecords(state, {0x3002, false}, [](TouchOutputs& out, std::uint32_t i) {
    _TouchFrame f{};
    const std::uint32_t state = i == 0 ? TOUCH_DOWN : TOUCH_MOVE;
    f.slot[0] = {1000 + i % 2000, 1500, state};
    f.slot[1] = {3000 - i % 2000, 2500, state};
    out.updateFromFrame(f);
    out.sendFrameDocument(f);
  });
}

// Ten contacts held and moving on a multi-touch frame.
void BM_TenContactTable(benchmark::State& state) {
  RunRecords(state, {0x4300, false}, [](TouchOutputs& out, std::uint32_t i) {
    ContactTable t{};
    for (int c = 0; c < 10; ++c)
      t.entry[c] = {std::uint16_t(c), std::uint16_t(i == 0 ? TOUCH_DOWN : TOUCH_MOVE),
                    2000 + 2000 * std::uint32_t(c) + i % 1000, 16000 + i % 500};
    out.updateFromTable(t, 10);
    out.sendTableDocument(t, 10);
  });
}

}  // namespace

// The floor under both outputs: one bare 100-byte datagram to a draining
// receiver, paced like the records, with no work of ours around it.
void BM_BareUdpSend(benchmark::State& state) {
  DrainingReceivers rx;
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(std::uint16_t(rx.udpPort()));
  ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  char datagram[100] = {};
  std::vector<double> ns;
  ns.reserve(std::size_t(state.max_iterations));
  auto next = std::chrono::steady_clock::now();
  for (auto _ : state) {
    std::this_thread::sleep_until(next += std::chrono::microseconds(kPaceUs));
    const auto t0 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(::send(fd, datagram, sizeof datagram, 0));
    const auto t1 = std::chrono::steady_clock::now();
    ns.push_back(double(std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count()));
  }
  ::close(fd);
  std::sort(ns.begin(), ns.end());
  state.counters["median_us"] = ns[ns.size() / 2] / 1000.0;
  state.counters["p99_us"] = ns[std::min(ns.size() - 1, ns.size() * 99 / 100)] / 1000.0;
}

// The document text alone, two and ten entries.
void BM_XmlDocumentText(benchmark::State& state) {
  const int n = int(state.range(0));
  std::vector<XmlEntry> entries;
  for (int i = 0; i < n; ++i)
    entries.push_back({0.1f * float(i), 0.0012f, 0.4873f, 0.0003f, 1000 + i});
  std::vector<char> out(xmldoc::MaxDocumentSize(n) + 1);
  std::int32_t counter = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(xmldoc::WriteTouchDocument(entries.data(), n, ++counter, out.data()));
  }
}

BENCHMARK(BM_TwoPointFrame)
    ->ArgName("sinks")
    ->Arg(kBoth)
    ->Arg(kTuioOnly)
    ->Arg(kXmlOnly)
    ->Iterations(100000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TenContactTable)
    ->ArgName("sinks")
    ->Arg(kBoth)
    ->Arg(kTuioOnly)
    ->Arg(kXmlOnly)
    ->Iterations(100000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareUdpSend)->Iterations(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_XmlDocumentText)->Arg(2)->Arg(10)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
