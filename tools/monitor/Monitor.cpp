// monitor: shows what the touch service sends, as a TUIO client on UDP and
// as an XML client on TCP. One line per cursor change and per document; on
// request, the cursors' paths drawn as SVG when it ends.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ip/PacketListener.h"
#include "ip/UdpSocket.h"
#include "platform/Socket.h"
#include "tools/monitor/CursorPaths.h"
#include "tools/monitor/TouchDocumentReader.h"
#include "tools/monitor/TuioCursorTracker.h"

namespace {

std::atomic<bool> gStop{false};
void OnSignal(int) {
  gStop = true;
}

const char* kUsage =
    "usage: monitor [--tuio-port N] [--xml-port N] [--xml-host HOST] [--seconds S]\n"
    "               [--svg FILE] [--ready-file FILE]\n"
    "  Listens for TUIO cursors on UDP (default 3333) and reads XML touch\n"
    "  documents from TCP (default 127.0.0.1:3000), printing one line per\n"
    "  cursor added, moved or removed and per document. Ends on Ctrl+C or\n"
    "  after S seconds. --svg FILE: when it ends, draws the path of every\n"
    "  TUIO cursor it saw into FILE (an SVG picture of the touch surface).\n"
    "  --ready-file FILE: written once the UDP port is being listened on.\n";

class Printer {
 public:
  Printer() : start_(std::chrono::steady_clock::now()) {}
  void Line(const char* source, const std::string& text) {
    const double t =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::lock_guard<std::mutex> lock(mutex_);
    std::printf("[%8.3f] %-4s %s\n", t, source, text.c_str());
    std::fflush(stdout);
  }

 private:
  std::mutex mutex_;
  const std::chrono::steady_clock::time_point start_;
};

std::string Position(float x, float y) {
  if (std::isnan(x)) return "(position not known yet)";
  char b[64];
  std::snprintf(b, sizeof b, "(%.4f, %.4f)", double(x), double(y));
  return b;
}

class TuioListener : public PacketListener {
 public:
  explicit TuioListener(Printer& out) : out_(out) {}
  // Read once the UDP thread has ended.
  const monitor::CursorPaths& Paths() const { return paths_; }
  void ProcessPacket(const char* data, int size, const IpEndpointName&) override {
    std::string why;
    auto bundle = monitor::DecodeTuioBundle(data, std::size_t(size), &why);
    if (!bundle) {
      out_.Line("tuio", "unreadable datagram: " + why);
      return;
    }
    if (bundle->profile != "/tuio/2Dcur") return;  // the object profile is always empty
    if (bundle->fseq == -1 && bundle->alive.empty() && !sessionEnded_) {
      out_.Line("tuio", "session start or end (empty bundle, fseq -1)");
    }
    sessionEnded_ = bundle->fseq == -1;
    for (const auto& e : tracker_.Update(*bundle)) {
      const char* what = e.kind == monitor::CursorEvent::kAdded   ? "added  "
                         : e.kind == monitor::CursorEvent::kMoved ? "moved  "
                                                                  : "removed";
      paths_.Record(e);
      out_.Line("tuio", std::string(what) + " session " + std::to_string(e.id) + " " +
                            Position(e.x, e.y) + "  fseq " + std::to_string(bundle->fseq));
    }
  }

 private:
  Printer& out_;
  monitor::TuioCursorTracker tracker_;
  monitor::CursorPaths paths_;
  bool sessionEnded_ = false;
};

void ReadXml(const std::string& host, std::uint16_t port, Printer& out) {
  if (!platform::StartSockets()) {
    out.Line("xml", "sockets unavailable");
    return;
  }
  bool told = false;
  while (!gStop) {
    const platform::SocketHandle s = platform::ConnectTcp(host.c_str(), port);
    if (s == platform::kInvalidSocket) {
      if (!told)
        out.Line("xml", "waiting for the XML server on " + host + ":" + std::to_string(port));
      told = true;
      for (int i = 0; i < 10 && !gStop; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    out.Line("xml", "connected to " + host + ":" + std::to_string(port));
    told = false;
    std::string partial;
    char buf[8192];
    while (!gStop) {
      const int ready = platform::WaitReadable(s, 100);
      if (ready < 0) break;
      if (ready == 0) continue;
      const long n = platform::Receive(s, buf, sizeof buf);
      if (n == platform::kWouldBlock) continue;
      if (n <= 0) break;
      partial.append(buf, std::size_t(n));
      std::size_t zero;
      while ((zero = partial.find('\0')) != std::string::npos) {
        const std::string doc = partial.substr(0, zero);
        partial.erase(0, zero + 1);
        if (doc.empty()) {
          out.Line("xml", "empty document (no contacts)");
          continue;
        }
        std::string why;
        auto d = monitor::ReadTouchDocument(doc, &why);
        out.Line("xml", d ? monitor::Describe(*d) : "unreadable document: " + why);
      }
    }
    platform::CloseSocket(s);
    if (!gStop) out.Line("xml", "connection ended");
  }
  platform::StopSockets();
}

// Binary mode: the same bytes on Windows as elsewhere.
bool WriteFile(const std::string& path, const std::string& text, bool append) {
  FILE* f = std::fopen(path.c_str(), append ? "ab" : "wb");
  if (!f) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && written;
}

bool Number(const char* s, long lo, long hi, long& out) {
  char* end = nullptr;
  out = std::strtol(s, &end, 10);
  return end != s && *end == '\0' && out >= lo && out <= hi;
}

}  // namespace

int main(int argc, char** argv) {
  long tuioPort = 3333, xmlPort = 3000, seconds = 0;
  std::string xmlHost = "127.0.0.1", svgPath, readyPath;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--tuio-port" && hasValue && Number(argv[++i], 1, 65535, tuioPort)) {
    } else if (a == "--xml-port" && hasValue && Number(argv[++i], 1, 65535, xmlPort)) {
    } else if (a == "--seconds" && hasValue && Number(argv[++i], 1, 86400, seconds)) {
    } else if (a == "--svg" && hasValue && *argv[i + 1]) {
      svgPath = argv[++i];
    } else if (a == "--ready-file" && hasValue && *argv[i + 1]) {
      readyPath = argv[++i];
    } else if (a == "--xml-host" && hasValue) {
      xmlHost = argv[++i];
    } else {
      std::fprintf(stderr, "monitor: bad argument '%s'\n%s", a.c_str(), kUsage);
      return 2;
    }
  }
  // A file that cannot be written is said now, not after the session.
  if (!svgPath.empty() && !WriteFile(svgPath, "", true)) {
    std::fprintf(stderr, "monitor: cannot write '%s': %s\n", svgPath.c_str(), std::strerror(errno));
    return 2;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  Printer out;
  TuioListener listener(out);
  std::unique_ptr<UdpListeningReceiveSocket> udp;
  try {
    udp = std::make_unique<UdpListeningReceiveSocket>(
        IpEndpointName(IpEndpointName::ANY_ADDRESS, int(tuioPort)), &listener);
  } catch (const std::exception& ex) {
    std::fprintf(stderr, "monitor: cannot listen on UDP port %ld: %s\n", tuioPort, ex.what());
    return 1;
  }
  out.Line("tuio", "listening on UDP port " + std::to_string(tuioPort));
  if (!readyPath.empty() && !WriteFile(readyPath, "listening\n", false)) {
    std::fprintf(stderr, "monitor: cannot write '%s': %s\n", readyPath.c_str(),
                 std::strerror(errno));
    return 2;
  }
  std::thread tuio([&] { udp->Run(); });
  std::thread xml([&] { ReadXml(xmlHost, std::uint16_t(xmlPort), out); });

  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!gStop && (seconds == 0 || std::chrono::steady_clock::now() < end))
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  gStop = true;
  udp->AsynchronousBreak();
  tuio.join();
  xml.join();
  if (svgPath.empty()) return 0;
  const monitor::CursorPaths& paths = listener.Paths();
  if (!WriteFile(svgPath, paths.Svg(), false)) {
    std::fprintf(stderr, "monitor: cannot write '%s': %s\n", svgPath.c_str(), std::strerror(errno));
    return 1;
  }
  out.Line("svg", "drew " + std::to_string(paths.DrawnCount()) + " cursor paths into " + svgPath);
  return 0;
}
