// The service program end to end, as a black box: the frame simulator plays
// gestures on a frame of each layout, a liblo receiver on UDP 3333 decodes
// the TUIO bundles, a TCP client on port 3000 reads the XML documents (parsed
// by libxml2), and the simulator's record shows what the frame received.
// Natively the service is build/native/app/vantrel; the Windows build runs
// Vantrel.exe under Wine through the same test (VANTREL_E2E_SERVICE).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "tests/support/OscCapture.h"
#include "tests/support/ServiceProcess.h"
#include "tests/support/SimControl.h"
#include "tests/support/TuioExpect.h"
#include "tests/support/XmlClient.h"
#include "tests/support/XmlDocumentReader.h"

namespace {

using testsupport::OscBundle;
using testsupport::ServiceProcess;

// Wine starts slowly on a loaded machine; natively these are never reached.
constexpr int kReadyMs = 90000;
constexpr int kExitMs = 30000;

using Point = testsupport::TuioPoint;
using testsupport::CursorFrame;

// A frame layout and how the service scales its coordinates.
struct LayoutCase {
  const char* model;
  const char* settings;  // for "add"
  int fingers;
  double coordinateMax;  // the frame's full scale
  double unit;           // one device unit as a screen fraction
  // Heads of what the frame receives when the service starts and ends.
  std::vector<std::string> startHeads;
  std::vector<std::string> exitHeads;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
  *os << c.model;
}

// Where the frame puts a fraction, as the service reads it back.
double Expected(double fraction, const LayoutCase& c) {
  return std::lround(fraction * c.coordinateMax) * c.unit;
}

struct Finger {
  Point from, to;
};

std::string GestureCommand(const std::string& name, int ms, const std::vector<Finger>& fingers) {
  std::ostringstream s;
  s << "gesture " << name << " " << ms;
  for (const Finger& f : fingers)
    s << " " << f.from.x << "," << f.from.y << ">" << f.to.x << "," << f.to.y;
  return s.str();
}

struct Rec {
  std::string path, kind, hex;
};

// ---- the status port: GET, and the peers that judge the answers ----------

// The body of GET `path` on the service's WebSocket port; "" unless 200.
std::string HttpGet(const std::string& path) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(3334);
  std::string in;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:3334\r\n\r\n";
    (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    pollfd p{fd, POLLIN, 0};
    char buf[16384];
    for (ssize_t n; ::poll(&p, 1, 5000) > 0 && (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
      in.append(buf, std::size_t(n));
  }
  ::close(fd);
  const std::size_t body = in.find("\r\n\r\n");
  return in.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 && body != std::string::npos ? in.substr(body + 4)
                                                                              : "";
}

// Runs `command` with `input` as its standard input file; its exit status
// and output.
int RunWithInput(const std::string& command, const std::string& input, std::string& output) {
  char name[] = "/tmp/vantrel-status-XXXXXX";
  const int fd = mkstemp(name);
  (void)!::write(fd, input.data(), input.size());
  ::close(fd);
  FILE* p = popen((command + " < " + name + " 2>&1").c_str(), "r");
  output.clear();
  char buf[4096];
  for (std::size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) output.append(buf, n);
  const int status = p ? pclose(p) : -1;
  std::remove(name);
  return status;
}

// The figures both answers tell: frame present, reports, touches published,
// touches down, UDP datagrams.
using Figures = std::vector<double>;
Figures FromMetrics(const std::string& m) {
  Figures f;
  for (const char* series : {"vantrel_frame_present", "vantrel_reports_received_total",
                             "vantrel_touches_published_total", "vantrel_touches_down",
                             "vantrel_listener_packets_sent_total{listener=\"udp\"}"}) {
    const std::size_t at = m.find("\n" + std::string(series) + " ");
    f.push_back(at == std::string::npos ? -1 : std::stod(m.substr(at + strlen(series) + 2)));
  }
  return f;
}
// As a JSON parser that is not ours (jq) reads /status.
Figures FromJson(const std::string& json) {
  std::string out;
  Figures f(5, -1);
  if (RunWithInput("jq -r '[(.frame.present | if . then 1 else 0 end), .reports_received, "
                   ".touches_published, .touches_down, .listeners.udp.packets_sent] | @tsv'",
                   json, out) == 0)
    std::istringstream(out) >> f[0] >> f[1] >> f[2] >> f[3] >> f[4];
  return f;
}

std::string Joined(const std::vector<std::string>& heads) {
  std::string s;
  for (const std::string& h : heads) s += h + " ";
  return s;
}

class ServiceEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sim_.connected()); }
  void TearDown() override {
    xml_.reset();
    service_.reset();
  }

  void StartService() {
    // Bound before the service starts, so its first bundles are seen too.
    tuio_ = std::make_unique<testsupport::UdpCapture>(3333);
    service_ = std::make_unique<ServiceProcess>(sim_.address());
    ASSERT_TRUE(service_->started());
    ASSERT_TRUE(service_->waitReady(kReadyMs)) << "service not ready: " << service_->output();
    // The listener is up once the start-up is complete; a loaded machine
    // may take a moment to accept.
    ASSERT_TRUE(testsupport::WaitFor(
        [&] {
          xml_ = std::make_unique<testsupport::XmlClient>(3000);
          return xml_->connected();
        },
        10000));
  }

  // The listener may accept the client a little after it connected: a tap
  // on frame "f" until a document arrives, then both receivers drained.
  void TapUntilBothOutputsServe() {
    ASSERT_TRUE(testsupport::WaitFor(
        [&] {
          sim_.last("tap f 0.95,0.95");
          return !xml_->documents(1, 200).empty();
        },
        20000));
    xml_->documents(1000, 300);
    ASSERT_TRUE(WaitFrames([&] { return LastFrameEmpty(); }));
    Collect(100);
  }

  // Everything that arrived so far, decoded.
  void Collect(int waitMs = 50) {
    for (const OscBundle& b : tuio_->bundles(waitMs)) {
      const CursorFrame f = testsupport::ReadCursorFrame(b);
      (f.cursors ? frames_ : objectFrames_).push_back(f);
    }
  }
  template <class Pred>
  bool WaitFrames(Pred pred, int timeoutMs = 20000) {
    return testsupport::WaitFor(
        [&] {
          Collect(20);
          return pred();
        },
        timeoutMs);
  }
  bool LastFrameEmpty() const { return !frames_.empty() && frames_.back().alive.empty(); }
  std::size_t SessionCount() const {
    std::set<int> ids;
    for (const CursorFrame& f : frames_)
      for (int id : f.alive) ids.insert(id);
    return ids.size();
  }

  std::vector<Rec> Record() {
    std::vector<Rec> out;
    for (const std::string& l : sim_.command("record")) {
      std::istringstream in(l);
      std::string tag, time;
      Rec r;
      in >> tag >> time >> r.path >> r.kind >> r.hex;
      if (tag == "rec") out.push_back(r);
    }
    return out;
  }
  // The written reports from `from` on, each cut to the length of the
  // expected head at its place (4 bytes past the list's end).
  static std::string Heads(const std::vector<Rec>& recs, std::size_t from,
                           const std::vector<std::string>& like) {
    std::string s;
    for (std::size_t i = from; i < recs.size(); ++i) {
      const std::size_t k = i - from;
      s += recs[i].hex.substr(0, k < like.size() ? like[k].size() : 8) + " ";
    }
    return s;
  }

  testsupport::SimControl sim_;  // served in this process
  std::unique_ptr<testsupport::UdpCapture> tuio_;
  std::unique_ptr<ServiceProcess> service_;
  std::unique_ptr<testsupport::XmlClient> xml_;
  std::vector<CursorFrame> frames_;
  std::vector<CursorFrame> objectFrames_;
};

// ---- the XML documents -----------------------------------------------------

using testsupport::ReadTouchDocument;
using testsupport::XmlDoc;
using testsupport::XmlTouch;

// ---- one gesture on each layout --------------------------------------------

class EachLayout : public ServiceEndToEnd, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(EachLayout, GestureArrivesAsCursorsAndDocumentsAndTheFrameGetsItsCommands) {
  const LayoutCase& c = GetParam();
  ASSERT_EQ(sim_.last(std::string("add ") + c.model + " f " + c.settings), "ok f");
  ASSERT_NO_FATAL_FAILURE(StartService());
  // Start-up commands, with the answers they cause (a read-back) settled.
  EXPECT_TRUE(testsupport::WaitFor([&] { return Record().size() >= c.startHeads.size(); }, 10000));
  EXPECT_EQ(Heads(Record(), 0, c.startHeads), Joined(c.startHeads));

  ASSERT_NO_FATAL_FAILURE(TapUntilBothOutputsServe());

  const std::vector<Finger> all = {
      {{0.20, 0.30}, {0.40, 0.45}}, {{0.70, 0.25}, {0.55, 0.60}}, {{0.50, 0.80}, {0.35, 0.70}}};
  const std::vector<Finger> fingers(all.begin(), all.begin() + c.fingers);
  const std::size_t before = frames_.size();
  ASSERT_EQ(sim_.last(GestureCommand("f", 400, fingers)), "ok");
  // Down, moves, and the lift that empties the alive list.
  ASSERT_TRUE(WaitFrames([&] { return frames_.size() > before + 10 && LastFrameEmpty(); }))
      << frames_.size() - before << " frames";
  const std::vector<CursorFrame> gesture(frames_.begin() + long(before), frames_.end());

  // Cursors' life: one session per finger, added at its start, moved, removed.
  std::map<int, std::vector<Point>> path;  // session id -> positions set
  int lastFseq = -1;
  for (const CursorFrame& f : gesture) {
    EXPECT_GT(f.fseq, lastFseq) << "fseq must grow";
    lastFseq = f.fseq;
    for (const auto& [id, p] : f.sets) {
      EXPECT_NE(std::find(f.alive.begin(), f.alive.end(), id), f.alive.end()) << "set of a dead id";
      path[id].push_back(p);
    }
  }
  ASSERT_EQ(path.size(), fingers.size());
  const double tol = c.unit * 1.0001;
  for (const Finger& fg : fingers) {
    // The session whose first position is this finger's start.
    auto it = std::find_if(path.begin(), path.end(), [&](const auto& kv) {
      return std::fabs(kv.second.front().x - Expected(fg.from.x, c)) <= tol &&
             std::fabs(kv.second.front().y - Expected(fg.from.y, c)) <= tol;
    });
    ASSERT_NE(it, path.end()) << "no cursor starts at " << fg.from.x << "," << fg.from.y;
    const std::vector<Point>& p = it->second;
    ASSERT_GE(p.size(), 2u) << "the cursor never moved";
    // Every sample on the finger's way, in order. (A move that lands in the
    // same millisecond as the cursor's previous sample is not published, so
    // on a busy machine the last one published may fall short of the end;
    // the documents below carry every report.)
    const double dx = fg.to.x - fg.from.x, dy = fg.to.y - fg.from.y;
    const double length = std::hypot(dx, dy);
    double progress = -1;  // distance along the way
    for (const Point& q : p) {
      const double along = ((q.x - fg.from.x) * dx + (q.y - fg.from.y) * dy) / length;
      const double off = std::fabs((q.y - fg.from.y) * dx - (q.x - fg.from.x) * dy) / length;
      EXPECT_LE(off, 2 * c.unit) << "off the finger's path: " << q.x << "," << q.y;
      EXPECT_GE(along, progress - 2 * c.unit) << "moved backwards";
      EXPECT_LE(along, length + 2 * c.unit) << "beyond the end";
      progress = std::max(progress, along);
    }
    EXPECT_GT(progress, 0.0) << "the cursor never moved";
  }
  // Removed: the frame after the lift names no cursor.
  EXPECT_TRUE(gesture.back().alive.empty());

  // The XML documents: each one well-formed, in the TUIO shape, numbered
  // one after the other, the touches where the fingers were.
  const std::vector<std::string> docs = xml_->documents(1000, 500);
  ASSERT_GE(docs.size(), 10u);
  int lastDoc = -1;
  std::size_t withTouches = 0;
  std::set<int> seenIds;
  std::vector<XmlTouch> lastTouches;
  for (const std::string& text : docs) {
    if (text.empty()) continue;  // a document without touches is the zero byte alone
    XmlDoc d;
    std::string why;
    ASSERT_TRUE(ReadTouchDocument(text, d, why)) << why;
    if (lastDoc >= 0) {
      EXPECT_EQ(d.fseq, lastDoc + 1) << text;
    }
    lastDoc = d.fseq;
    std::vector<int> ids;
    for (const XmlTouch& t : d.touches) {
      if (t.id == 0) continue;
      ids.push_back(t.id);
      seenIds.insert(t.id);
      // On one of the fingers' straight paths, within a unit.
      bool onPath = false;
      for (const Finger& fg : fingers) {
        const double lox = std::min(fg.from.x, fg.to.x) - 2 * c.unit,
                     hix = std::max(fg.from.x, fg.to.x) + 2 * c.unit;
        const double loy = std::min(fg.from.y, fg.to.y) - 2 * c.unit,
                     hiy = std::max(fg.from.y, fg.to.y) + 2 * c.unit;
        onPath = onPath || (t.x >= lox && t.x <= hix && t.y >= loy && t.y <= hiy);
      }
      EXPECT_TRUE(onPath) << text;
    }
    if (!ids.empty()) {
      ++withTouches;
      lastTouches = d.touches;
    }
  }
  EXPECT_GE(withTouches, 10u);
  // The last document before the lift holds every finger where it ended.
  for (const Finger& fg : fingers) {
    const bool there = std::any_of(lastTouches.begin(), lastTouches.end(), [&](const XmlTouch& t) {
      return t.id != 0 && std::fabs(t.x - Expected(fg.to.x, c)) <= tol &&
             std::fabs(t.y - Expected(fg.to.y, c)) <= tol;
    });
    EXPECT_TRUE(there) << "no touch ends at " << fg.to.x << "," << fg.to.y;
  }
  EXPECT_EQ(seenIds.size(), fingers.size());

  // Ctrl+C: the empty bundle goes out, the client is let go, the frame gets
  // its exit commands.
  const std::size_t beforeExit = frames_.size(), objectsBeforeExit = objectFrames_.size();
  const std::size_t writesBeforeExit = Record().size();
  ASSERT_EQ(service_->interruptAndWait(kExitMs), 0) << service_->output();
  EXPECT_EQ(service_->output(), "");
  Collect(200);
  ASSERT_GT(frames_.size(), beforeExit) << "no bundle at the end";
  EXPECT_TRUE(frames_.back().alive.empty());
  EXPECT_EQ(frames_.back().fseq, -1);
  ASSERT_GT(objectFrames_.size(), objectsBeforeExit);
  EXPECT_TRUE(objectFrames_.back().alive.empty());
  EXPECT_TRUE(xml_->closedByServer(5000));
  EXPECT_EQ(Heads(Record(), writesBeforeExit, c.exitHeads), Joined(c.exitHeads));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, EachLayout,
    ::testing::Values(
        // Layouts A and B of single-channel frames are mapped by the frame's
        // stored calibration; with none stored they come through unmapped.
        LayoutCase{"single-a",
                   "calvalid=0",
                   2,
                   4095,
                   1.0 / 4096,
                   {"02060100", "02050100", "02060101"},
                   {"02060102"}},
        LayoutCase{"single-b",
                   "calvalid=0",
                   2,
                   4095,
                   1.0 / 4096,
                   {"fc300101", "fc060100", "fc050100", "fc060101"},
                   {"fc060102", "fc300101"}},
        // Version 0x7000: no touch-output command.
        LayoutCase{"single-c",
                   "",
                   3,
                   4095,
                   1.0 / 4096,
                   {"fc060100", "fc050100", "fc060101"},
                   {"fc060102"}},
        // Modes set, queried, then set twice more (whether the frame's answer
        // to the query is in by then is a race the frame's protocol leaves
        // open); restored twice at the end.
        LayoutCase{"series",
                   "",
                   2,
                   32760,
                   1.0 / 32760,
                   {"fe080001", "fe0c0000", "fe08", "fe08"},
                   {"fe080001", "fe080001"}},
        // Mouse emulation of a multi-touch frame goes through the driver API.
        LayoutCase{"split-mt", "", 3, 32760, 1.0 / 32760, {"fc300101"}, {"fc060102", "fc300101"}}),
    [](const auto& info) {
      std::string n = info.param.model;
      std::replace(n.begin(), n.end(), '-', '_');
      return n;
    });

}  // namespace

// ---- unplugged while touched, plugged back ---------------------------------

namespace {

TEST_F(ServiceEndToEnd, UnplugWhileTouchedEndsTheSessionAndReplugStartsAFreshOne) {
  ASSERT_EQ(sim_.last("add split-mt f"), "ok f");
  ASSERT_NO_FATAL_FAILURE(StartService());
  auto touched = [&](std::size_t from) {
    return WaitFrames([&] {
      for (std::size_t i = from; i < frames_.size(); ++i)
        if (frames_[i].alive.size() == 1 && !frames_[i].sets.empty()) return true;
      return false;
    });
  };
  Collect();
  std::size_t mark = frames_.size();
  ASSERT_EQ(sim_.last("touch f 0:down:0.3,0.3"), "ok");
  ASSERT_EQ(sim_.last("touch f 0:move:0.31,0.32"), "ok");
  ASSERT_TRUE(touched(mark));
  const int firstSession = frames_.back().alive.at(0);
  // The status port: the frame there, the finger down, the text format as
  // promtool reads it.
  const std::string metrics = HttpGet("/metrics");
  std::string lint;
  EXPECT_EQ(RunWithInput("promtool check metrics", metrics, lint), 0) << lint << metrics;
  EXPECT_TRUE(FromMetrics(metrics)[0] == 1 && FromMetrics(metrics)[3] == 1) << metrics;
  // The XML client's last document lists no touch: every alive id is 0.
  auto xmlLifted = [&] {
    const std::vector<std::string> docs = xml_->documents(1000, 500);
    XmlDoc d;
    std::string why;
    if (docs.empty() || !ReadTouchDocument(docs.back(), d, why)) return false;
    return !d.alive.empty() &&
           std::count(d.alive.begin(), d.alive.end(), 0) == long(d.alive.size());
  };

  // The frame leaves with the finger down: the output stops, so the
  // receivers hear that the session ended.
  mark = frames_.size();
  ASSERT_EQ(sim_.last("unplug f"), "ok");
  // How soon is the benchmark's business; here: it comes, on a loaded machine too.
  EXPECT_TRUE(testsupport::WaitFor([&] { return FromMetrics(HttpGet("/metrics"))[0] == 0; }, 20000))
      << "vantrel_frame_present still 1 20 s after the unplug";
  ASSERT_TRUE(WaitFrames([&] {
    return frames_.size() > mark && frames_.back().alive.empty() && frames_.back().fseq == -1;
  }));
  EXPECT_TRUE(xmlLifted()) << "the XML client still holds the finger";

  // Back again: once the frame has its touch output on, a new touch is a
  // new cursor of a new session, numbered from the start again.
  const std::size_t writes = Record().size();
  mark = frames_.size();
  ASSERT_EQ(sim_.last("plug f"), "ok");
  ASSERT_TRUE(testsupport::WaitFor(
      [&] {
        const std::vector<Rec> r = Record();
        for (std::size_t i = writes; i < r.size(); ++i)
          if (r[i].hex.compare(0, 8, "fc300101") == 0) return true;
        return false;
      },
      20000));
  ASSERT_EQ(sim_.last("touch f 0:down:0.6,0.6"), "ok");
  ASSERT_TRUE(touched(mark));
  // The down opens the cursor (the finger held at the unplug was forgotten
  // with the outputs, not lifted by this down), and a move moves it.
  const auto at = [](double x) { return Expected(x, {"", "", 1, 32760, 1.0 / 32760, {}, {}}); };
  const CursorFrame* first = nullptr;
  for (std::size_t i = mark; i < frames_.size() && !first; ++i)
    if (!frames_[i].sets.empty()) first = &frames_[i];
  EXPECT_EQ(first->alive.at(0), firstSession) << "session ids restart with the output";
  EXPECT_NEAR(first->sets.begin()->second.x, at(0.6), 1.0001 / 32760);
  ASSERT_EQ(sim_.last("touch f 0:move:0.61,0.62"), "ok");
  EXPECT_TRUE(WaitFrames([&] {
    for (std::size_t i = mark; i < frames_.size(); ++i)
      for (const auto& [id, p] : frames_[i].sets)
        if (std::fabs(p.x - at(0.61)) < 1.0001 / 32760) return true;
    return false;
  })) << "the move did not move the cursor";
  // Between the two sessions the receivers saw the new output start empty.
  bool emptyStart = false;
  for (std::size_t i = mark; i < frames_.size(); ++i)
    emptyStart = emptyStart || (frames_[i].alive.empty() && frames_[i].fseq == -1);
  EXPECT_TRUE(emptyStart);

  // The counters against the peers: every report the simulator handed over,
  // every touch the UDP receiver saw begin, every datagram it got; /status
  // (read by jq) tells the same.
  const auto simReports = [&] {
    const std::string state = sim_.last("state f");
    return std::stod(state.substr(state.find(" reports=") + 9));
  };
  Figures m;
  EXPECT_TRUE(testsupport::WaitFor(
      [&] { return (m = FromMetrics(HttpGet("/metrics")))[1] == simReports(); }, 5000))
      << m[1] << " reports counted, the simulator sent " << simReports();
  double births = 0;
  std::set<int> before;
  for (const CursorFrame& f : frames_) {
    for (int id : f.alive) births += before.count(id) == 0;
    before = std::set<int>(f.alive.begin(), f.alive.end());
  }
  const double received = double(frames_.size() + objectFrames_.size());
  const Figures j = FromJson(HttpGet("/status"));
  Collect(200);
  EXPECT_EQ(Figures(m.begin(), m.begin() + 4), (Figures{1, m[1], births, 1}));
  EXPECT_EQ(Figures(j.begin(), j.begin() + 4), Figures(m.begin(), m.begin() + 4));
  EXPECT_TRUE(received <= m[4] && m[4] <= j[4] && j[4] <= frames_.size() + objectFrames_.size())
      << received << " datagrams, then " << m[4] << " and " << j[4] << " counted";
  // Ended with the finger down: the XML client hears the lift before the
  // connection closes.
  ASSERT_EQ(service_->interruptAndWait(kExitMs), 0) << service_->output();
  EXPECT_TRUE(xmlLifted()) << "the XML client still holds the finger at the end";
}

// Another HID device comes and goes while a finger moves: the frame is left
// alone (its touch output stays on), so every report of the gesture reaches
// both outputs within one cursor session.
TEST_F(ServiceEndToEnd, UnrelatedArrivalsDuringAGestureLoseNoReport) {
  ASSERT_EQ(sim_.last("add single-b f calvalid=0"), "ok f");
  ASSERT_NO_FATAL_FAILURE(StartService());
  // Touch output on, the stored mouse setting, read calibration, mouse mode.
  ASSERT_TRUE(testsupport::WaitFor([&] { return Record().size() >= 4; }, 20000));
  ASSERT_NO_FATAL_FAILURE(TapUntilBothOutputsServe());
  const std::size_t writes = Record().size(), mark = frames_.size();

  // Down, 30 moves 30 ms apart, up: 32 reports, 31 of them with the finger.
  ASSERT_EQ(sim_.last("gesture f 900 0.2,0.3>0.6,0.7 step=30"), "ok");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_EQ(sim_.last("add mouse m"), "ok m");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_EQ(sim_.last("unplug m"), "ok");
  ASSERT_EQ(sim_.last("plug m"), "ok");
  ASSERT_TRUE(WaitFrames([&] { return frames_.size() > mark + 1 && LastFrameEmpty(); }));

  // TUIO: one session from the down to the lift, and a frame number for
  // every report in between (a move within the same clock tick as the one
  // before is not published, but it is counted).
  std::set<int> sessions;
  int first = -1;
  for (std::size_t i = mark; i < frames_.size(); ++i) {
    for (int id : frames_[i].alive) sessions.insert(id);
    if (first < 0 && !frames_[i].sets.empty()) first = frames_[i].fseq;
  }
  EXPECT_EQ(sessions.size(), 1u);
  EXPECT_EQ(frames_.back().fseq - first, 31);
  // XML: a document for every report but the first (a two-point frame's
  // first record of a touch builds none), numbered without a gap.
  int withTouches = 0, lastDoc = -1;
  for (const std::string& text : xml_->documents(1000, 1500)) {
    XmlDoc d;
    std::string why;
    if (text.empty()) continue;
    ASSERT_TRUE(ReadTouchDocument(text, d, why)) << why;
    if (lastDoc >= 0) {
      EXPECT_EQ(d.fseq, lastDoc + 1);
    }
    lastDoc = d.fseq;
    withTouches += !d.touches.empty();
  }
  EXPECT_EQ(withTouches, 31);
  // The frame was written nothing: no re-open, no touch output switched.
  EXPECT_EQ(Record().size(), writes);
  ASSERT_EQ(service_->interruptAndWait(kExitMs), 0) << service_->output();
}

}  // namespace

// ---- a frame that misbehaves ------------------------------------------------

namespace {

// One frame class, started once, through every fault in turn. `wakeHead`:
// a command the frame gets again once the service saw it wake (hex prefix).
struct FaultFrame {
  const char* model;
  const char* settings;
  double unit;
  const char* wakeHead;
};

void PrintTo(const FaultFrame& c, std::ostream* os) {
  *os << c.model;
}

// A fault (or two, with "; "), and what the service must make of it:
// `gone` faults stop the outputs (the frame counts as gone) until the frame
// is back.
struct FaultRow {
  const char* fault;
  bool gone;
  bool wakes;  // the frame forgot its state: the start-up commands go again
};

const FaultRow kFaults[] = {
    {"read-error 3", false, false},      // a glitch: read again at once
    {"short-read 2", false, false},      // the short reports are dropped
    {"stall 400", false, false},         // nothing for a while: held stays held
    {"read-error 100000", true, false},  // every read fails: gone, then reopened
    {"sleep 700 notify=1", true, true},  // re-enumerated on wake
    {"sleep 700 notify=0", true, true},  // only the failing handles tell
    // The first command after the wake is refused: it goes again.
    {"write-error 1; sleep 700 notify=1", true, true},
};

class FrameFaults : public ServiceEndToEnd, public ::testing::WithParamInterface<FaultFrame> {
 protected:
  // The last XML document lists no touch (every alive id 0, or none).
  bool XmlLifted() {
    const std::vector<std::string> docs = xml_->documents(1000, 300);
    for (auto it = docs.rbegin(); it != docs.rend(); ++it) {
      XmlDoc d;
      std::string why;
      if (it->empty()) continue;
      if (!ReadTouchDocument(*it, d, why)) return false;
      lastXml_ = d;
    }
    return std::count(lastXml_.alive.begin(), lastXml_.alive.end(), 0) ==
           long(lastXml_.alive.size());
  }
  // A new touch at `x`,`y` (a lift, a down and a move), or with `held` the
  // finger still down moved there, until TUIO and XML carry it (the frame
  // may still be on its way back); true once both did.
  bool TouchComesOut(double x, double y, bool held = false) {
    char down[64], move[64];
    std::snprintf(down, sizeof down, "touch f 0:down:%.4f,%.4f", x, y);
    std::snprintf(move, sizeof move, "touch f 0:move:%.4f,%.4f", x, y + 0.01);
    bool tuio = false, xml = false;
    testsupport::WaitFor(
        [&] {
          if (!held) {
            Lift(x, y);
            sim_.last(down);
          }
          sim_.last(move);
          const std::size_t mark = frames_.size();
          Collect(100);
          for (std::size_t i = mark; i < frames_.size(); ++i)
            for (const auto& [id, p] : frames_[i].sets) tuio = tuio || std::fabs(p.x - x) < 0.01;
          for (const std::string& text : xml_->documents(1000, 100)) {
            XmlDoc d;
            std::string why;
            if (!text.empty() && ReadTouchDocument(text, d, why))
              for (const XmlTouch& t : d.touches)
                xml = xml || (t.id != 0 && std::fabs(t.x - x) < 0.01);
          }
          return tuio && xml;
        },
        20000);
    return tuio && xml;
  }
  void Lift(double x, double y) {
    char up[64];
    std::snprintf(up, sizeof up, "touch f 0:up:%.4f,%.4f", x, y + 0.01);
    sim_.last(up);
  }
  XmlDoc lastXml_;
};

TEST_P(FrameFaults, EveryFaultRecoversAndAGoneFrameHoldsNoTouch) {
  const FaultFrame& c = GetParam();
  ASSERT_EQ(sim_.last(std::string("add ") + c.model + " f " + c.settings), "ok f");
  ASSERT_NO_FATAL_FAILURE(StartService());
  ASSERT_NO_FATAL_FAILURE(TapUntilBothOutputsServe());
  double x = 0.09;
  for (const FaultRow& row : kFaults) {
    SCOPED_TRACE(row.fault);
    x += 0.06;  // each touch somewhere else
    // A finger is held when the fault strikes.
    ASSERT_TRUE(TouchComesOut(x, 0.4)) << "no touch before the fault";
    const std::size_t writes = Record().size(), mark = frames_.size();
    for (std::string faults = row.fault; !faults.empty();) {
      const std::size_t end = faults.find("; ");
      ASSERT_EQ(sim_.last("fault f " + faults.substr(0, end)), "ok");
      faults.erase(0, end == std::string::npos ? end : end + 2);
    }
    if (row.gone) {
      // No cursor stays alive, and the XML client hears the lift.
      EXPECT_TRUE(WaitFrames([&] {
        for (std::size_t i = mark; i < frames_.size(); ++i)
          if (frames_[i].alive.empty()) return true;
        return false;
      })) << "a TUIO cursor stayed alive";
      EXPECT_TRUE(testsupport::WaitFor([&] { return XmlLifted(); }, 5000))
          << "the XML client still holds the finger";
      // The finger held through it is a touch again once the frame is back.
      EXPECT_TRUE(TouchComesOut(x + 0.03, 0.45, true)) << "the held finger did not come back";
    }
    Lift(x, 0.4);
    // After the fault, a new touch comes out of both outputs.
    x += 0.06;
    EXPECT_TRUE(TouchComesOut(x, 0.5)) << "no touch after the fault";
    Lift(x, 0.5);
    if (row.wakes) {
      EXPECT_TRUE(testsupport::WaitFor(
          [&] {
            const std::vector<Rec> r = Record();
            for (std::size_t i = writes; i < r.size(); ++i)
              if (r[i].hex.compare(0, std::strlen(c.wakeHead), c.wakeHead) == 0) return true;
            return false;
          },
          5000))
          << "the start-up commands were not sent again";
    }
    ASSERT_TRUE(WaitFrames([&] { return LastFrameEmpty(); }));
  }
  ASSERT_EQ(service_->interruptAndWait(kExitMs), 0) << service_->output();
}

INSTANTIATE_TEST_SUITE_P(FrameClasses, FrameFaults,
                         ::testing::Values(FaultFrame{"split-2pt", "", 1.0 / 4096, "fc3001010001"},
                                           FaultFrame{"single-b", "calvalid=0", 1.0 / 4096,
                                                      "fc3001010001"},
                                           FaultFrame{"split-mt", "", 1.0 / 32760, "fc3001010001"},
                                           FaultFrame{"series", "", 1.0 / 32760, "fe0c"}),
                         [](const auto& info) {
                           std::string n = info.param.model;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

}  // namespace

// ---- the program's own end ---------------------------------------------------

namespace {

TEST_F(ServiceEndToEnd, SecondsEndTheServiceThroughItsShutDownAndBadOptionsAreRefused) {
  {
    ServiceProcess bad(sim_.address(), {"--seconds", "soon"});
    EXPECT_EQ(bad.waitExit(kExitMs), 2);
    EXPECT_NE(bad.output().find("--seconds wants a number of seconds"), std::string::npos)
        << bad.output();
  }
  ASSERT_EQ(sim_.last("add single-b f calvalid=0"), "ok f");
  tuio_ = std::make_unique<testsupport::UdpCapture>(3333);
  ServiceProcess timed(sim_.address(), {"--seconds", "1"});
  ASSERT_TRUE(timed.waitReady(kReadyMs)) << timed.output();
  EXPECT_EQ(timed.waitExit(kExitMs), 0) << timed.output();
  EXPECT_EQ(timed.output(), "");
  // The full shut-down ran: the frame's exit commands, the empty bundles.
  const std::vector<Rec> r = Record();
  ASSERT_GE(r.size(), 2u);
  EXPECT_EQ(r[r.size() - 2].hex.substr(0, 8), "fc060102");
  EXPECT_EQ(r[r.size() - 1].hex.substr(0, 8), "fc300101");
  Collect(200);
  ASSERT_FALSE(frames_.empty());
  EXPECT_TRUE(frames_.back().alive.empty());
  EXPECT_EQ(frames_.back().fseq, -1);
}

}  // namespace
