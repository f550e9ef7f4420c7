// Per-record cost of the touch outputs (native): one TUIO bundle sent over
// UDP and one XML document sent over TCP per record, with both receivers
// draining on their own threads. Reports the median and 99th percentile of
// single records and the heap allocations per record in steady state.
//
// Side by side in the same run, and compared at its end: our TUIO bundle
// against liblo building and sending the same bundle; a whole report (the
// routing, the decoder and both outputs, from the read's completion to both
// sends done) against the floor, one bare UDP send plus one bare TCP send of
// the same sizes.
#include <benchmark/benchmark.h>
#include <lo/lo.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "bench/LoopbackUdp.h"
#include "input/ReportRouting.h"
#include "input/TouchDecoder.h"
#include "output/TouchOutputs.h"
#include "platform/Socket.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/OscCapture.h"

namespace {

const int kPaceUs = std::getenv("PACE_US") ? std::atoi(std::getenv("PACE_US")) : 125;

// One millisecond per frame opened: every record is a new sample, so every
// move is sent, as it is when reports arrive a polling interval apart.
std::int32_t gTick = 0;
TUIO::SessionTime SteppedClock() {
  return TUIO::SessionTime::FromMilliseconds(++gTick);
}

// A UDP socket and an XML client, each read and discarded by a thread.
class DrainingReceivers {
 public:
  DrainingReceivers() {
    std::uint16_t port = 0;
    udp_ = BindLoopbackUdp(port);
    udpPort_ = port;
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
  platform::SocketHandle xmlSocket() const { return tcp_; }

 private:
  int udp_ = -1;
  int udpPort_ = 0;
  platform::SocketHandle tcp_ = platform::kInvalidSocket;
  std::atomic<bool> stop_{false};
  std::thread udpThread_, tcpThread_;
};

// Single samples of one benchmark, kept for the comparisons at the end.
std::map<std::string, std::vector<double>> gSamples;

double Percentile(std::vector<double> ns, int p) {
  std::sort(ns.begin(), ns.end());
  return ns[std::min(ns.size() - 1, ns.size() * std::size_t(p) / 100)];
}

// Side by side: each iteration times `a` once, then `b` once, each after a
// pause as between two reports, so both meet the same machine (on a shared
// machine the load changes from one second to the next). Reports the median
// and 99th percentile of each (in microseconds), kept for the ratios.
template <typename A, typename B>
void TimeSideBySide(benchmark::State& state, const std::string& keyA, A& a, const std::string& keyB,
                    B& b) {
  std::vector<double> ns[2];
  for (auto& v : ns) v.reserve(std::size_t(state.max_iterations));
  auto next = std::chrono::steady_clock::now();
  const auto timeOne = [&next](std::vector<double>& out, auto& step) {
    std::this_thread::sleep_until(next += std::chrono::microseconds(kPaceUs));
    const auto t0 = std::chrono::steady_clock::now();
    step();
    const auto t1 = std::chrono::steady_clock::now();
    out.push_back(double(std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count()));
  };
  for (auto _ : state) {
    timeOne(ns[0], a);
    timeOne(ns[1], b);
  }
  const std::string keys[2] = {keyA, keyB};
  for (int k = 0; k < 2; ++k) {
    state.counters[keys[k] + "_median_us"] = Percentile(ns[k], 50) / 1000.0;
    state.counters[keys[k] + "_p99_us"] = Percentile(ns[k], 99) / 1000.0;
    gSamples[keys[k]] = std::move(ns[k]);
  }
}

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
  outputs.SetDevice(device);
  outputs.StartXmlListener();
  while (outputs.XmlPort() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (sinks != kTuioOnly) {
    rx.connectXml(outputs.XmlPort());
    while (!outputs.XmlLink().Connected())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  outputs.StartTouchOutput();

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
  state.counters["xml_drops"] = double(outputs.XmlLink().DroppedClients());
  outputs.StopTouchOutput();
}

// Two points held and moving on a two-point frame.
void BM_TwoPointFrame(benchmark::State& state) {
  RunRecords(state, {0x3002, false}, [](TouchOutputs& out, std::uint32_t i) {
    TouchFrame f{};
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

// ---- against liblo and the floor -------------------------------------------

// Two points held and moving, as the TUIO output alone sends them.
void TwoPointTuioRecord(TouchOutputs& out, std::uint32_t i) {
  TouchFrame f{};
  const std::uint32_t state = i == 0 ? TOUCH_DOWN : TOUCH_MOVE;
  f.slot[0] = {1000 + i % 2000, 1500, state};
  f.slot[1] = {3000 - i % 2000, 2500, state};
  out.updateFromFrame(f);
}

OutputEndpoints TuioTo(int port) {
  OutputEndpoints e;
  e.tuioPort = port;
  e.xml.port = 0;
  e.clock = &SteppedClock;
  // As RunRecords: the sender is measured with its client connected.
  e.xmlBacklogBytes = 64 * 1024 * 1024;
  return e;
}

// Our TUIO output sending a moving two-point record.
class OurTuio {
 public:
  OurTuio() : outputs_(TuioTo(rx_.udpPort())) {
    outputs_.SetDevice({0x3002, false});
    outputs_.StartTouchOutput();
    for (int warm = 0; warm < 1000; ++warm) (*this)();
  }
  void operator()() { TwoPointTuioRecord(outputs_, i_++); }

 private:
  DrainingReceivers rx_;
  TouchOutputs outputs_;
  std::uint32_t i_ = 0;
};

// The bundle our output sends for a moving two-point record, as liblo reads it.
testsupport::OscBundle OurTwoPointBundle() {
  testsupport::UdpCapture capture;
  TouchOutputs outputs(TuioTo(capture.port()));
  outputs.SetDevice({0x3002, false});
  outputs.StartTouchOutput();
  TwoPointTuioRecord(outputs, 0);
  TwoPointTuioRecord(outputs, 1);
  const auto datagrams = capture.drain(200, 20);
  return testsupport::DecodeBundle(datagrams.back());
}

// liblo building the same bundle (alive, the set messages, fseq) from its
// parts and sending it, as a program using liblo does for every record.
class LibloTuio {
 public:
  LibloTuio() : bundle_(OurTwoPointBundle()) {
    to_ = lo_address_new("127.0.0.1", std::to_string(rx_.udpPort()).c_str());
  }
  ~LibloTuio() { lo_address_free(to_); }
  void operator()() {
    lo_timetag now;
    lo_timetag_now(&now);
    lo_bundle b = lo_bundle_new(now);
    for (const testsupport::OscMessage& m : bundle_.messages) {
      lo_message msg = lo_message_new();
      const bool isFseq = std::get<std::string>(m.args[0]) == "fseq";
      for (const testsupport::OscArg& a : m.args) {
        if (auto* v = std::get_if<std::int32_t>(&a)) {
          lo_message_add_int32(msg, isFseq ? ++fseq_ : *v);
        } else if (auto* f = std::get_if<float>(&a)) {
          lo_message_add_float(msg, *f);
        } else {
          lo_message_add_string(msg, std::get<std::string>(a).c_str());
        }
      }
      lo_bundle_add_message(b, m.address.c_str(), msg);
    }
    benchmark::DoNotOptimize(lo_send_bundle(to_, b));
    lo_bundle_free_recursive(b);
  }
  std::size_t datagramSize() const { return bundle_.datagramSize; }

 private:
  const testsupport::OscBundle bundle_;
  DrainingReceivers rx_;
  lo_address to_;
  std::int32_t fseq_ = 0;
};

void BM_TuioOursVsLiblo(benchmark::State& state) {
  OurTuio ours;
  LibloTuio liblo;
  TimeSideBySide(state, "ours", ours, "liblo", liblo);
  state.counters["datagram_bytes"] = double(liblo.datagramSize());
}

// One frame of touches as reports: a two-point frame sends it in one report,
// a multi-touch frame with ten contacts in two.
using Report = std::array<std::uint8_t, kReportSize>;
struct ReportCase {
  DeviceProfile profile;
  std::vector<Report> (*frame)(std::uint32_t i);
};

void PutLe16(std::uint8_t* p, std::uint32_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
}

std::vector<Report> TwoPointReports(std::uint32_t i) {
  Report r{0xFB, 0xC1};
  r[3] = r[10] = 1;  // tips
  PutLe16(&r[4], 1000 + i % 2000);
  PutLe16(&r[6], 1500);
  PutLe16(&r[11], 3000 - i % 2000);
  PutLe16(&r[13], 2500);
  return {r};
}

std::vector<Report> TenContactReports(std::uint32_t i) {
  Report first{0xFB}, second{0xFB};
  const auto slot = [i](Report& r, int k, int id) {
    std::uint8_t* s = r.data() + 1 + 6 * k;
    s[0] = i == 0 ? 2 : 3;  // down in the first frame, then touching
    s[1] = std::uint8_t(id);
    PutLe16(s + 2, 2000 + 2000 * std::uint32_t(id) + i % 1000);
    PutLe16(s + 4, 16000 + i % 500);
  };
  for (int k = 0; k < 6; ++k) slot(first, k, k);
  for (int k = 0; k < 4; ++k) slot(second, k, 6 + k);
  first[37] = second[37] = 10;
  return {first, second};
}

const ReportCase kCases[] = {
    {{0x3D5E, 0x0021, 0x3002, false, 0x02}, &TwoPointReports},
    {{0x3D5E, 0x0021, 0x4300, false, 0x02}, &TenContactReports},
};

// What both outputs sent for the last frame of a case: sizes for the floor.
std::map<std::int64_t, std::pair<std::size_t, std::size_t>> gWireSizes;

// Routes one report as the reader thread does and decodes it into the sinks.
class ReaderPath {
 public:
  ReaderPath(const DeviceProfile& profile, TouchOutputs& outputs) : profile_(profile) {
    state_.initialised = true;
    decoder_.SetSink(&outputs);
  }
  void handle(const Report& report) {
    const ReaderFlags flags{true, false, false};
    if (RouteTouchReport(report.data(), profile_, flags) == ReportAction::kDecode)
      decoder_.DecodeTouchReport(state_, profile_, report.data());
  }

 private:
  DeviceProfile profile_;
  PipelineState state_;
  TouchDecoder decoder_;
};

// What both outputs send for a moving frame of a case: the TUIO datagram and
// the XML document with its zero byte.
std::pair<std::size_t, std::size_t> WireSizes(const ReportCase& c) {
  testsupport::UdpCapture capture;
  TouchOutputs outputs(TuioTo(capture.port()));
  outputs.SetDevice({c.profile.VersionNumber, false});
  outputs.StartTouchOutput();
  ReaderPath path(c.profile, outputs);
  for (std::uint32_t i = 0; i < 3; ++i)
    for (const Report& r : c.frame(i)) path.handle(r);
  // The largest datagram: the cursor bundle, not the object profile's.
  std::size_t udp = 0;
  for (const auto& d : capture.drain(200, 20)) udp = std::max(udp, d.size());
  return {udp, outputs.Document().size() + 1};
}

// The service's own cost per frame of reports: from the read's completion
// (the report in its buffer) to both sends done, through the reader
// thread's routing, decoder and outputs, with an XML client connected.
class OurReports {
 public:
  explicit OurReports(const ReportCase& c)
      : outputs_(TuioTo(rx_.udpPort())), path_(c.profile, outputs_) {
    outputs_.SetDevice({c.profile.VersionNumber, false});
    outputs_.StartXmlListener();
    while (outputs_.XmlPort() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    rx_.connectXml(outputs_.XmlPort());
    while (!outputs_.XmlLink().Connected())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    outputs_.StartTouchOutput();
    // The reads' buffers, filled before any clock starts. Frame 0 puts the
    // touches down; the others move them.
    for (std::uint32_t i = 0; i < 2000; ++i) frames_.push_back(c.frame(i));
    for (const Report& r : frames_[0]) path_.handle(r);
    for (int warm = 0; warm < 1000; ++warm) (*this)();
  }
  void operator()() {
    for (const Report& r : frames_[1 + n_++ % (frames_.size() - 1)]) path_.handle(r);
  }
  double drops() { return double(outputs_.XmlLink().DroppedClients()); }
  TouchOutputs& outputs() { return outputs_; }

 private:
  DrainingReceivers rx_;
  TouchOutputs outputs_;
  ReaderPath path_;
  std::vector<std::vector<Report>> frames_;
  std::size_t n_ = 0;
};

// The floor under a case: one bare UDP send of its datagram's size and one
// bare TCP send of its document's size, to draining receivers like ours.
class Floor {
 public:
  explicit Floor(const ReportCase& c) {
    std::tie(udpBytes_, tcpBytes_) = WireSizes(c);
    udp_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(std::uint16_t(rx_.udpPort()));
    ::connect(udp_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listener_ = platform::OpenTcpListener(0, 1);
    rx_.connectXml(platform::LocalPort(listener_));
    tcp_ = platform::AcceptConnection(listener_, 64 * 1024);
    datagram_.assign(udpBytes_, 'u');
    document_.assign(tcpBytes_, 'x');
  }
  ~Floor() {
    ::close(udp_);
    platform::CloseSocket(tcp_);
    platform::CloseSocket(listener_);
  }
  void operator()() {
    benchmark::DoNotOptimize(::send(udp_, datagram_.data(), datagram_.size(), 0));
    benchmark::DoNotOptimize(platform::SendSome(tcp_, document_.data(), document_.size()));
  }
  std::size_t udpBytes_ = 0, tcpBytes_ = 0;

 private:
  DrainingReceivers rx_;
  int udp_ = -1;
  platform::SocketHandle listener_ = platform::kInvalidSocket, tcp_ = platform::kInvalidSocket;
  std::vector<char> datagram_, document_;
};

void BM_ReportVsFloor(benchmark::State& state) {
  const ReportCase& c = kCases[state.range(0)];
  OurReports ours(c);
  Floor floor(c);
  const std::string n = std::to_string(state.range(0));
  const std::uint64_t allocationsBefore = testsupport::Allocations();
  TimeSideBySide(state, "ours" + n, ours, "floor" + n, floor);
  state.counters["allocs"] = double(testsupport::Allocations() - allocationsBefore);
  state.counters["xml_drops"] = ours.drops();
  state.counters["udp_bytes"] = double(floor.udpBytes_);
  state.counters["tcp_bytes"] = double(floor.tcpBytes_);
  ours.outputs().StopTouchOutput();
}

// Clients that connect and leave, 300 in a row, while the reader thread
// sends a two-point record every millisecond: how long from a client's
// connect until its first document arrives (readFirst 1), or until its
// connect returns (readFirst 0: it leaves at once; a full backlog shows as
// a connect that waits for the second SYN, a second later).
void BM_XmlRapidClients(benchmark::State& state) {
  const bool readFirst = state.range(0) != 0;
  OutputEndpoints e = TuioTo(0);
  e.protocol = "none";
  if (std::getenv("BACKLOG")) e.xml.backlog = std::atoi(std::getenv("BACKLOG"));
  TouchOutputs outputs(e);
  outputs.SetDevice({0x3002, false});
  outputs.StartXmlListener();
  while (outputs.XmlPort() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  outputs.StartTouchOutput();
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    std::uint32_t i = 0;
    auto next = std::chrono::steady_clock::now();
    while (!stop) {
      std::this_thread::sleep_until(next += std::chrono::milliseconds(1));
      TouchFrame f{};
      f.slot[0] = {1000 + i % 2000, 1500, i == 0 ? TOUCH_DOWN : TOUCH_MOVE};
      f.slot[1] = {3000 - i % 2000, 2500, i == 0 ? TOUCH_DOWN : TOUCH_MOVE};
      ++i;
      outputs.sendFrameDocument(f);
    }
  });
  std::vector<double> ms;
  for (auto _ : state) {
    for (int c = 0; c < 300; ++c) {
      const auto t0 = std::chrono::steady_clock::now();
      const platform::SocketHandle s = platform::ConnectTcp("127.0.0.1", outputs.XmlPort());
      // Read in pieces, as a client would, until the first zero byte.
      char buf[4096];
      for (bool whole = !readFirst; !whole && platform::WaitReadable(s, 5000) == 1;) {
        const ssize_t n = ::recv(int(s), buf, sizeof buf, 0);
        if (n <= 0) break;
        whole = std::memchr(buf, 0, std::size_t(n)) != nullptr;
      }
      ms.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
      platform::CloseSocket(s);
    }
  }
  stop = true;
  reader.join();
  state.counters["median_ms"] = Percentile(ms, 50);
  state.counters["p99_ms"] = Percentile(ms, 99);
  state.counters["max_ms"] = Percentile(ms, 100);
  state.counters["over_10ms"] =
      double(std::count_if(ms.begin(), ms.end(), [](double v) { return v > 10; }));
  outputs.StopTouchOutput();
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
BENCHMARK(BM_XmlRapidClients)
    ->ArgName("readFirst")
    ->Arg(1)
    ->Arg(0)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TuioOursVsLiblo)->Iterations(50000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReportVsFloor)
    ->ArgName("case")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(50000)
    ->Unit(benchmark::kMicrosecond);

namespace {

// "ours/theirs" for the median and the 99th percentile of two benchmarks
// of this run, when both ran.
void PrintRatio(const char* what, const std::string& ours, const std::string& theirs) {
  const auto a = gSamples.find(ours), b = gSamples.find(theirs);
  if (a == gSamples.end() || b == gSamples.end()) return;
  std::printf("%-44s median %.2f  p99 %.2f\n", what,
              Percentile(a->second, 50) / Percentile(b->second, 50),
              Percentile(a->second, 99) / Percentile(b->second, 99));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("\nratios (ours / theirs):\n");
  PrintRatio("TUIO bundle: ours / liblo", "ours", "liblo");
  PrintRatio("two-point report: ours / floor", "ours0", "floor0");
  PrintRatio("ten-contact frame: ours / floor", "ours1", "floor1");
  return 0;
}
