// The service program end to end (native; run by hand, not by ctest):
//  - latency: from the simulator being asked for one touch report to the
//    TUIO datagram arriving at a receiver on UDP 3333 (the control
//    command's own hop is included, so the figure is an upper bound);
//  - memory: a touch held and moved for ServiceMemory's report count, the
//    service's resident memory at the start and at the end;
//  - plugging: touches lost and the time until the service is current
//    (the last command it wrote to the frame) after one plug, after a
//    device that is not a frame arrives while a finger moves, and after
//    300 fast unplug/plug cycles;
//  - faults: per fault kind of the simulator, the time from the fault's end
//    to the first TUIO cursor of a new touch.
// It runs build/native/app/vantrel against an in-process simulator and holds
// the service's ports: nothing else may use them meanwhile.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/OscCapture.h"
#include "tests/support/ServiceProcess.h"
#include "tests/support/SimControl.h"
#include "tests/support/XmlClient.h"

namespace {

using Clock = std::chrono::steady_clock;

long ResidentKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, 6, "VmRSS:") == 0) return std::stol(line.substr(6));
  return -1;
}

// A control connection that writes many commands before reading answers.
class Pipe {
 public:
  explicit Pipe(const std::string& address) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port =
        htons(static_cast<std::uint16_t>(std::stoi(address.substr(address.rfind(':') + 1))));
    connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  ~Pipe() { close(fd_); }
  void send(const std::string& text) {
    for (std::size_t off = 0; off < text.size();) {
      const ssize_t n = write(fd_, text.data() + off, text.size() - off);
      if (n <= 0) return;
      off += std::size_t(n);
    }
  }
  // Reads until `lines` answer lines have arrived.
  void answers(std::size_t lines) {
    char buf[65536];
    while (lines > 0) {
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n <= 0) return;
      lines -= std::min<std::size_t>(lines, std::count(buf, buf + n, '\n'));
    }
  }

 private:
  int fd_ = -1;
};

struct Session {
  testsupport::SimControl sim;
  testsupport::UdpCapture tuio{3333};
  std::unique_ptr<testsupport::ServiceProcess> service;
  int xmlFd = -1;
  std::atomic<bool> draining{true};
  std::atomic<long> documents{0};
  std::thread drain;

  bool start(benchmark::State& state, const std::string& model = "split-mt") {
    if (sim.last("add " + model + " f calvalid=0") != "ok f")
      return state.SkipWithError("simulator"), false;
    service = std::make_unique<testsupport::ServiceProcess>(sim.address());
    if (!service->waitReady(20000)) return state.SkipWithError("service not ready"), false;
    // An XML client that reads everything as fast as it comes and counts
    // the documents (their zero bytes).
    xmlFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(3000);
    if (!testsupport::WaitFor(
            [&] { return connect(xmlFd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0; }))
      return state.SkipWithError("no XML server"), false;
    drain = std::thread([this] {
      std::vector<char> buf(1 << 16);
      while (draining) {
        pollfd p{xmlFd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        const ssize_t n = read(xmlFd, buf.data(), buf.size());
        if (n <= 0) break;
        documents += std::count(buf.data(), buf.data() + n, '\0');
      }
    });
    tuio.drain(100);
    return true;
  }
  ~Session() {
    if (service) service->interruptAndWait(20000);
    draining = false;
    if (drain.joinable()) drain.join();
    if (xmlFd >= 0) close(xmlFd);
  }
};

std::string Move(int i) {
  const double x = 0.3 + 0.0001 * (i % 1000), y = 0.6 - 0.0001 * (i % 1000);
  char line[64];
  std::snprintf(line, sizeof line, "touch f 0:move:%.4f,%.4f\n", x, y);
  return line;
}

void ServiceLatency(benchmark::State& state) {
  Session s;
  if (!s.start(state)) return;
  s.sim.last("touch f 0:down:0.3,0.6");
  s.tuio.drain(200);
  Pipe control(s.sim.address());
  std::vector<double> us;
  int i = 0;
  for (auto _ : state) {
    // Reports a few milliseconds apart, as a frame sends them: the TUIO
    // clock counts milliseconds, and a frame within the same one is not
    // published again.
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    const auto t0 = Clock::now();
    control.send(Move(++i));
    const auto got = s.tuio.drain(1000, 0);  // the first datagram, no wait after it
    const auto t1 = Clock::now();
    control.answers(1);
    if (got.empty()) {
      state.SkipWithError(("no datagram after " + std::to_string(i) + " reports").c_str());
      break;
    }
    const double d = std::chrono::duration<double, std::micro>(t1 - t0).count();
    us.push_back(d);
    state.SetIterationTime(d * 1e-6);
  }
  s.sim.last("touch f 0:up:0.3,0.6");
  if (us.empty()) return;
  std::sort(us.begin(), us.end());
  state.counters["median_us"] = us[us.size() / 2];
  state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
}
BENCHMARK(ServiceLatency)->UseManualTime()->Iterations(3000)->Unit(benchmark::kMicrosecond);

// The control hop alone, for scale: a command to the simulator and its
// one-line answer, with no service reading the frame.
void ControlRoundTrip(benchmark::State& state) {
  testsupport::SimControl sim;
  sim.last("add split-mt f");
  Pipe control(sim.address());
  std::vector<double> us;
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto t0 = Clock::now();
    control.send("wait 0\n");
    control.answers(1);
    const double d = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    us.push_back(d);
    state.SetIterationTime(d * 1e-6);
  }
  std::sort(us.begin(), us.end());
  state.counters["median_us"] = us[us.size() / 2];
  state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
}
BENCHMARK(ControlRoundTrip)->UseManualTime()->Iterations(3000)->Unit(benchmark::kMicrosecond);

// The touch goes down once and then moves, report after report; answers are
// read in batches so the simulator never waits for this program.
void ServiceMemory(benchmark::State& state) {
  const long reports = state.range(0);
  Session s;
  if (!s.start(state)) return;
  Pipe control(s.sim.address());
  std::atomic<bool> receiving{true};
  std::atomic<long> datagrams{0};
  std::thread rx([&] {
    while (receiving) datagrams += long(s.tuio.drain(50).size());
  });
  control.send("touch f 0:down:0.3,0.6\n");
  control.answers(1);
  constexpr int kBatch = 16;
  long startKiB = -1;
  std::vector<long> atQuarter;
  for (auto _ : state) {
    for (long i = 0; i < reports; i += kBatch) {
      std::string batch;
      for (int k = 0; k < kBatch; ++k) batch += Move(int(i + k));
      control.send(batch);
      control.answers(kBatch);
      if (startKiB < 0 && i >= 10000) startKiB = ResidentKiB(s.service->pid());
      if ((i + kBatch) % (reports / 4) < kBatch) atQuarter.push_back(ResidentKiB(s.service->pid()));
    }
  }
  // Let the service finish what it has read before measuring.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const long endKiB = ResidentKiB(s.service->pid());
  control.send("touch f 0:up:0.3,0.6\n");
  control.answers(1);
  receiving = false;
  rx.join();
  state.counters["rss_start_KiB"] = double(startKiB);
  state.counters["rss_end_KiB"] = double(endKiB);
  state.counters["datagrams"] = double(datagrams.load());
  state.counters["xml_documents"] = double(s.documents.load());
  for (std::size_t q = 0; q < atQuarter.size(); ++q)
    state.counters["rss_q" + std::to_string(q + 1) + "_KiB"] = double(atQuarter[q]);
}
BENCHMARK(ServiceMemory)->Arg(1000000)->Iterations(1)->Unit(benchmark::kSecond);

// ---- plugging ---------------------------------------------------------------

// Counts, on a thread of its own, the cursors that appear in the TUIO
// bundles (a tap is one) and the set messages.
class CursorCounter {
 public:
  explicit CursorCounter(testsupport::UdpCapture& tuio) : tuio_(tuio), thread_([this] { run(); }) {}
  ~CursorCounter() {
    running_ = false;
    thread_.join();
  }
  long appeared() const { return appeared_; }
  long sets() const { return sets_; }

 private:
  void run() {
    std::set<int> alive;
    while (running_) {
      for (const testsupport::OscBundle& b : tuio_.bundles(50)) {
        std::set<int> now;
        bool cursors = false;
        for (const testsupport::OscMessage& m : b.messages) {
          if (m.address != "/tuio/2Dcur" || m.args.empty()) continue;
          cursors = true;
          const std::string word = std::get<std::string>(m.args[0]);
          if (word == "set") ++sets_;
          if (word != "alive") continue;
          for (std::size_t i = 1; i < m.args.size(); ++i) {
            const int id = std::get<std::int32_t>(m.args[i]);
            now.insert(id);
            if (!alive.count(id)) ++appeared_;
          }
        }
        if (cursors) alive = now;
      }
    }
  }
  testsupport::UdpCapture& tuio_;
  std::atomic<bool> running_{true};
  std::atomic<long> appeared_{0}, sets_{0};
  std::thread thread_;
};

// Polls the simulator's record until nothing was written to the frame for
// `quietMs`; the time of the last write seen (or `since` if none came). The
// record is read every 10 ms for two seconds, then every 100 ms (a service
// that replays stale notifications fills it, and reading it takes time).
Clock::time_point LastWrite(testsupport::SimControl& sim, Clock::time_point since, int quietMs,
                            std::size_t* writes = nullptr) {
  std::size_t count = sim.command("record").size();
  const std::size_t first = count;
  Clock::time_point last = since;
  const Clock::time_point start = Clock::now();
  for (Clock::time_point changed = start;
       Clock::now() - changed < std::chrono::milliseconds(quietMs);) {
    const bool early = Clock::now() - start < std::chrono::seconds(2);
    std::this_thread::sleep_for(std::chrono::milliseconds(early ? 10 : 100));
    const std::size_t now = sim.command("record").size();
    if (now != count) changed = last = Clock::now(), count = now;
  }
  if (writes) *writes = count - first;
  return last;
}

double MsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// From `at` on, 20 taps 50 ms apart on a control connection of their own,
// while the caller watches the record: how many never reached TUIO.
class Taps {
 public:
  Taps(Session& s, CursorCounter& cursors, Clock::time_point at)
      : thread_([&s, &cursors, at, this] {
          Pipe control(s.sim.address());
          std::this_thread::sleep_until(at);
          const long before = cursors.appeared();
          for (int i = 0; i < 20; ++i) {
            control.send("tap f 0." + std::to_string(20 + 3 * i) + ",0.5\n");
            control.answers(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(300));
          lost_ = 20 - (cursors.appeared() - before);
        }) {}
  long lost() {
    thread_.join();
    return lost_;
  }

 private:
  long lost_ = 0;
  std::thread thread_;
};

const char* const kPlugModels[] = {"single-b", "split-mt"};

// `cycles` unplug/plug cycles (one after the frame settled, or as fast as
// the simulator takes them); from 1 s after the last plug, 20 taps.
void PlugCycles(benchmark::State& state, int cycles) {
  Session s;
  if (!s.start(state, kPlugModels[state.range(0)])) return;
  CursorCounter cursors(s.tuio);
  LastWrite(s.sim, Clock::now(), 1000);
  Pipe control(s.sim.address());
  double currentMs = 0, lost = 0;
  for (auto _ : state) {
    std::string batch;
    for (int i = 0; i < cycles; ++i) batch += "unplug f\nplug f\n";
    if (cycles == 1) {
      control.send("unplug f\n");
      control.answers(1);
      LastWrite(s.sim, Clock::now(), 500);
      batch = "plug f\n";
    }
    s.sim.last("record clear");
    control.send(batch);
    control.answers(cycles == 1 ? 1 : 2 * std::size_t(cycles));
    const Clock::time_point plugged = Clock::now();
    Taps taps(s, cursors, plugged + std::chrono::seconds(1));
    currentMs += MsBetween(plugged, LastWrite(s.sim, plugged, cycles == 1 ? 1000 : 2000));
    lost += double(taps.lost());
  }
  state.counters["current_ms"] = currentMs / double(state.iterations());
  state.counters["taps_lost_of_20"] = lost / double(state.iterations());
}
void PlugOnce(benchmark::State& state) {
  PlugCycles(state, 1);
}
void FastPlugCycles(benchmark::State& state) {
  PlugCycles(state, 300);
}
BENCHMARK(PlugOnce)->ArgName("split")->Arg(0)->Arg(1)->Iterations(5)->Unit(benchmark::kSecond);
BENCHMARK(FastPlugCycles)
    ->ArgName("split")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(2)
    ->Unit(benchmark::kSecond);

// A finger moves for 2 s (202 reports); a mouse arrives at 0.5 s, leaves at
// 1 s and comes back at 1.5 s.
void UnrelatedArrivalWhileMoving(benchmark::State& state) {
  Session s;
  if (!s.start(state, kPlugModels[state.range(0)])) return;
  CursorCounter cursors(s.tuio);
  LastWrite(s.sim, Clock::now(), 1000);
  double lost = 0, writes = 0;
  bool added = false;
  for (auto _ : state) {
    const long docs = s.documents;
    const Clock::time_point start = Clock::now();
    s.sim.last("gesture f 2000 0.2,0.3>0.7,0.6");
    std::this_thread::sleep_until(start + std::chrono::milliseconds(500));
    s.sim.last(added ? "plug m" : "add mouse m");
    added = true;
    std::this_thread::sleep_until(start + std::chrono::milliseconds(1000));
    s.sim.last("unplug m");
    std::this_thread::sleep_until(start + std::chrono::milliseconds(1500));
    s.sim.last("plug m");
    std::size_t written = 0;
    LastWrite(s.sim, start, 1000, &written);
    writes += double(written);
    // One XML document per report, but a two- or four-point frame's first
    // record of a touch builds none.
    lost += double(202 - (state.range(0) ? 0 : 1) - (s.documents - docs));
  }
  state.counters["reports_lost_of_202"] = lost / double(state.iterations());
  state.counters["frame_writes"] = writes / double(state.iterations());
}
BENCHMARK(UnrelatedArrivalWhileMoving)
    ->ArgName("split")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(5)
    ->Unit(benchmark::kSecond);

}  // namespace

// From a fault's end (its command answered, or its time over) to the first
// datagram that sets a cursor of a new touch, tried every 5 ms. A write
// error alone refuses nothing while no command goes out: it is measured
// with a wake, whose first two commands the frame then refuses.
const char* const kFaultKinds[] = {
    "read-error 3", "short-read 3",       "write-error 2; sleep 700 notify=1",
    "stall 300",    "sleep 700 notify=1", "sleep 700 notify=0"};

bool SetsACursor(const std::vector<char>& datagram) {
  static const char kSet[] = {'s', 'e', 't', 0};
  return std::search(datagram.begin(), datagram.end(), kSet, kSet + 4) != datagram.end();
}

void FaultRecovery(benchmark::State& state) {
  Session s;
  if (!s.start(state, "split-2pt")) return;
  const std::string fault = kFaultKinds[state.range(0)];
  state.SetLabel(fault);
  std::vector<double> ms;
  for (auto _ : state) {
    s.sim.last("touch f 0:down:0.4,0.4");
    s.sim.last("touch f 0:up:0.4,0.4");
    s.tuio.drain(300);
    std::string last;  // of the faults, the one that ends last
    for (std::size_t at = 0, end = 0; end != std::string::npos; at = end + 2) {
      end = fault.find("; ", at);
      last = fault.substr(at, end == std::string::npos ? end : end - at);
      if (s.sim.last("fault f " + last) != "ok") return state.SkipWithError("fault refused");
    }
    const unsigned long lasts = last.compare(0, 5, "stall") == 0 || last.compare(0, 5, "sleep") == 0
                                    ? std::stoul(last.substr(6))
                                    : 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(lasts));
    const auto end = Clock::now();
    bool seen = false;
    while (!seen && Clock::now() - end < std::chrono::seconds(10)) {
      s.sim.last("touch f 0:down:0.6,0.6");
      s.sim.last("touch f 0:up:0.6,0.6");
      for (const auto& d : s.tuio.drain(5, 0)) seen = seen || SetsACursor(d);
    }
    if (!seen) return state.SkipWithError("no touch after the fault");
    const double d = std::chrono::duration<double, std::milli>(Clock::now() - end).count();
    ms.push_back(d);
    state.SetIterationTime(d * 1e-3);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  std::sort(ms.begin(), ms.end());
  state.counters["median_ms"] = ms[ms.size() / 2];
  state.counters["max_ms"] = ms.back();
}
BENCHMARK(FaultRecovery)
    ->DenseRange(0, 5)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
