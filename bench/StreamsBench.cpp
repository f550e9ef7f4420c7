// The cost of the TUIO streams on the publishing thread (native).
//
// BM_FanOut: per-record cost (a two-point frame through the TUIO output) of
// four outputs side by side in one run, each with a draining UDP receiver:
// UDP only; plus one TCP client; plus one TCP and one WebSocket client;
// plus one TCP and sixteen WebSocket clients. Each iteration times one
// record on each, so all meet the same machine; the ratios to UDP only are
// printed at the end.
//
// BM_UdpGapWithLaggard: two outputs side by side, one with a WebSocket
// client that never reads (a fresh one each round: it is dropped once its
// queue is full), one without. Gestures of records a pace apart alternate
// between them; a receiver timestamps every datagram. Reports the largest
// gap between two datagrams and the slowest record, for each.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/LoopbackUdp.h"
#include "output/TouchOutputs.h"
#include "tests/support/AllocationCounter.h"

namespace {

using Clock = std::chrono::steady_clock;

std::int32_t gTick = 0;
TUIO::SessionTime SteppedClock() {
  return TUIO::SessionTime::FromMilliseconds(++gTick);
}

int Connect(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::abort();
  return fd;
}

// A WebSocket client past its handshake.
int ConnectWebSocket(std::uint16_t port) {
  const int fd = Connect(port);
  const std::string req =
      "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
  (void)::send(fd, req.data(), req.size(), 0);
  std::string head;
  char c;
  while (head.find("\r\n\r\n") == std::string::npos && ::recv(fd, &c, 1, 0) == 1) head += c;
  return fd;
}

// Reads and discards everything on its sockets on one thread; datagrams on
// the UDP sockets are timestamped.
class Drain {
 public:
  void Add(int fd, bool udp) { fds_.push_back({fd, udp}); }
  void Start() {
    thread_ = std::thread([this] {
      std::vector<pollfd> p;
      for (auto& f : fds_) p.push_back({f.fd, POLLIN, 0});
      char buf[65536];
      while (!stop_) {
        if (::poll(p.data(), p.size(), 20) <= 0) continue;
        const auto now = Clock::now();
        for (std::size_t i = 0; i < p.size(); ++i) {
          if (!p[i].revents) continue;
          while (::recv(p[i].fd, buf, sizeof buf, MSG_DONTWAIT) > 0)
            if (fds_[i].udp) Arrived(fds_[i].fd, now);
        }
      }
    });
  }
  ~Drain() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (auto& f : fds_) ::close(f.fd);
  }
  // Largest gap between two datagrams on `fd` since the last call.
  double TakeLargestGapUs(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    double g = gap_[fd];
    gap_[fd] = 0;
    last_.erase(fd);
    return g;
  }

 private:
  void Arrived(int fd, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = last_.find(fd);
    if (it != last_.end())
      gap_[fd] =
          std::max(gap_[fd], std::chrono::duration<double, std::micro>(now - it->second).count());
    last_[fd] = now;
  }
  struct Fd {
    int fd;
    bool udp;
  };
  std::vector<Fd> fds_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::map<int, Clock::time_point> last_;
  std::map<int, double> gap_;
};

// One output with its UDP receiver and `ws` WebSocket and `tcp` TCP clients.
struct Rig {
  Rig(Drain& drain, int tcp, int ws, bool drainClients = true) {
    std::uint16_t port;
    udp = BindLoopbackUdp(port);
    drain.Add(udp, true);
    OutputEndpoints e;
    e.tuioPort = port;
    e.clock = &SteppedClock;
    e.tuioTcp.enabled = tcp > 0;
    e.tuioTcp.port = 0;
    e.webSocket.enabled = ws > 0;
    e.webSocket.port = 0;
    e.webSocket.maxClients = 16;
    outputs = std::make_unique<TouchOutputs>(e);
    outputs->SetDevice({0x3002, false});
    outputs->StartStreamListeners();
    if (tcp > 0) {
      while (outputs->TuioTcp()->Port() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      for (int i = 0; i < tcp; ++i) drain.Add(Connect(outputs->TuioTcp()->Port()), false);
      while (outputs->TuioTcp()->StreamingClients() < tcp)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (ws > 0) {
      while (outputs->WebSocket()->Port() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      for (int i = 0; i < ws && drainClients; ++i)
        drain.Add(ConnectWebSocket(outputs->WebSocket()->Port()), false);
    }
    outputs->StartTouchOutput();
  }
  void Record(std::uint32_t i) {
    TouchFrame f{};
    const std::uint32_t state = records_++ == 0 ? TOUCH_DOWN : TOUCH_MOVE;
    f.slot[0] = {1000 + i % 2000, 1500, state};
    f.slot[1] = {3000 - i % 2000, 2500, state};
    outputs->updateFromFrame(f);
  }
  int udp = -1;
  std::unique_ptr<TouchOutputs> outputs;
  std::uint32_t records_ = 0;  // the first one puts the fingers down
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}
double P99(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, v.size() * 99 / 100)];
}

void BM_FanOut(benchmark::State& state) {
  Drain drain;
  // {tcp, ws}: UDP only, +TCP, +TCP+1 WS, +TCP+16 WS.
  const int shapes[4][2] = {{0, 0}, {1, 0}, {1, 1}, {1, 16}};
  const char* names[4] = {"udp", "tcp1_ws0", "tcp1_ws1", "tcp1_ws16"};
  std::vector<std::unique_ptr<Rig>> rigs;
  for (auto& s : shapes) rigs.push_back(std::make_unique<Rig>(drain, s[0], s[1]));
  while (rigs[3]->outputs->WebSocket()->StreamingClients() < 16)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  drain.Start();
  std::uint32_t i = 0;
  for (int warm = 0; warm < 1000; ++warm, ++i)
    for (auto& r : rigs) r->Record(i);
  std::vector<double> ns[4];
  const std::uint64_t allocationsBefore = testsupport::Allocations();
  auto next = Clock::now();
  for (auto _ : state) {
    for (int k = 0; k < 4; ++k) {
      std::this_thread::sleep_until(next += std::chrono::microseconds(250));
      const auto t0 = Clock::now();
      rigs[std::size_t(k)]->Record(i);
      ns[k].push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count());
    }
    ++i;
  }
  const std::uint64_t allocations = testsupport::Allocations() - allocationsBefore;
  const double base = Median(ns[0]);
  for (int k = 0; k < 4; ++k) {
    state.counters[std::string(names[k]) + "_median_us"] = Median(ns[k]) / 1000.0;
    state.counters[std::string(names[k]) + "_p99_us"] = P99(ns[k]) / 1000.0;
    if (k > 0) state.counters[std::string(names[k]) + "_ratio"] = Median(ns[k]) / base;
  }
  state.counters["allocs_all_threads_per_record"] = double(allocations) / double(4 * ns[0].size());
  std::uint32_t dropped = 0;
  for (auto& r : rigs)
    for (StreamListener* l : {r->outputs->TuioTcp(), r->outputs->WebSocket()})
      if (l) dropped += l->DroppedClients();
  state.counters["clients_dropped"] = dropped;
}
BENCHMARK(BM_FanOut)->Iterations(20000)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_UdpGapWithLaggard(benchmark::State& state) {
  Drain drain;
  Rig plain(drain, 0, 0);
  Rig lagged(drain, 0, 1, false);
  drain.Start();
  std::vector<double> gap[2], slowest[2];
  std::vector<int> sleepers;
  std::uint32_t i = 0;
  for (auto _ : state) {
    // A fresh never-reading client for this round.
    sleepers.push_back(ConnectWebSocket(lagged.outputs->WebSocket()->Port()));
    while (lagged.outputs->WebSocket()->StreamingClients() < 1)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Rig* rigs[2] = {&plain, &lagged};
    for (int k = 0; k < 2; ++k) {
      drain.TakeLargestGapUs(rigs[k]->udp);
      double worst = 0;
      auto next = Clock::now();
      for (int n = 0; n < 2000; ++n, ++i) {
        std::this_thread::sleep_until(next += std::chrono::microseconds(250));
        const auto t0 = Clock::now();
        rigs[k]->Record(i);
        worst =
            std::max(worst, std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      gap[k].push_back(drain.TakeLargestGapUs(rigs[k]->udp));
      slowest[k].push_back(worst);
    }
  }
  const char* names[2] = {"none", "laggard"};
  for (int k = 0; k < 2; ++k) {
    state.counters[std::string(names[k]) + "_gap_max_us"] =
        *std::max_element(gap[k].begin(), gap[k].end());
    state.counters[std::string(names[k]) + "_gap_median_us"] = Median(gap[k]);
    state.counters[std::string(names[k]) + "_record_max_us"] =
        *std::max_element(slowest[k].begin(), slowest[k].end());
  }
  state.counters["laggards_dropped"] = lagged.outputs->WebSocket()->DroppedClients();
  for (int fd : sleepers) ::close(fd);
}
BENCHMARK(BM_UdpGapWithLaggard)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
