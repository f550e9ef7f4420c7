// Runs the monitor (the command given, native or through Wine) against the
// touch outputs driven here, and checks what it prints: the cursor's life
// from the TUIO side and the parsed documents from the XML side.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "output/TouchOutputs.h"
#include "tests/support/XmlClient.h"

namespace {

int FreeUdpPort() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

std::int32_t gTick = 100000;
TUIO::SessionTime Stepped() {
  return TUIO::SessionTime::FromMilliseconds(gTick += 5);
}

struct Output {
  std::mutex mutex;
  std::vector<std::string> lines;
  bool has(const std::string& s) {
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& l : lines)
      if (l.find(s) != std::string::npos) return true;
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: monitor_check <monitor command...>\n");
    return 2;
  }
  OutputEndpoints e;
  e.tuioPort = FreeUdpPort();
  e.xml.port = 0;
  e.clock = &Stepped;
  TouchOutputs outputs(e);
  outputs.SetDevice({0x4013, false});
  outputs.StartXmlListener();
  if (!testsupport::WaitFor([&] { return outputs.XmlPort() != 0; })) return 1;

  std::string cmd;
  for (int i = 1; i < argc; ++i) cmd += std::string("'") + argv[i] + "' ";
  cmd += "--tuio-port " + std::to_string(e.tuioPort) + " --xml-port " +
         std::to_string(outputs.XmlPort()) + " --seconds 5";
  FILE* monitor = ::popen(cmd.c_str(), "r");
  if (!monitor) return 1;
  Output out;
  std::thread reader([&] {
    char line[1024];
    while (std::fgets(line, sizeof line, monitor)) {
      std::lock_guard<std::mutex> lock(out.mutex);
      out.lines.emplace_back(line);
    }
  });

  bool ok = testsupport::WaitFor([&] { return out.has("listening on UDP port"); }, 30000) &&
            testsupport::WaitFor([&] { return outputs.XmlLink().Connected(); }, 30000);
  if (ok) {
    outputs.StartTouchOutput();
    TouchFrame f{};
    const std::uint32_t xs[] = {2048, 2048, 2458, 2458};
    const std::uint32_t states[] = {TOUCH_DOWN, TOUCH_MOVE, TOUCH_MOVE, TOUCH_UP};
    for (int i = 0; i < 4; ++i) {
      f.slot[0] = {xs[i], 1024, states[i]};
      outputs.updateFromFrame(f);
      outputs.sendFrameDocument(f);
    }
    outputs.StopTouchOutput();
  }
  const std::vector<std::string> want = {
      "added   session 0 (0.5000, 0.2500)",
      "moved   session 0 (0.6001, 0.2500)",
      "removed session 0",
      "#1 alive[1 0 0 0] 1(0.5000, 0.2500)",
      "#2 alive[1 0 0 0] 1(0.6001, 0.2500)",
      "#3 alive[0 0 0 0]",
      "session start or end",
  };
  for (const auto& w : want) ok = testsupport::WaitFor([&] { return out.has(w); }, 5000) && ok;
  reader.join();
  const int status = ::pclose(monitor);
  for (const auto& l : out.lines) std::fputs(l.c_str(), stdout);
  for (const auto& w : want)
    if (!out.has(w)) std::printf("MISSING: %s\n", w.c_str());
  if (status != 0) std::printf("monitor exit status %d\n", status);
  return ok && status == 0 ? 0 : 1;
}
