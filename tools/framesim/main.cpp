// framesim: plays touch frames for the virtual HID backend over loopback TCP.
//
//   framesim [--port N] [--port-file FILE] [--frame MODEL[:NAME]]... [--scenario FILE]
//            [--models] [--check]
//
// --check only reads the scenario: status 0 when it is well-formed.
// Prints "listening on 127.0.0.1:PORT" once it accepts connections (and
// writes PORT to FILE, if given). Port 0 (the default) lets the system choose.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/framesim/Server.h"

using namespace framesim;

static int Usage() {
  std::fprintf(stderr,
               "usage: framesim [--port N] [--port-file FILE] [--frame MODEL[:NAME]]... "
               "[--scenario FILE] [--models] [--check]\n");
  return 2;
}

int main(int argc, char** argv) {
  unsigned long port = 0;
  std::string portFile, scenario;
  std::vector<std::string> frames;
  bool checkOnly = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool hasValue = i + 1 < argc;
    if (a == "--port" && hasValue) {
      char* end = nullptr;
      port = std::strtoul(argv[++i], &end, 10);
      if (!end || *end || port > 65535) return Usage();
    } else if (a == "--port-file" && hasValue) {
      portFile = argv[++i];
    } else if (a == "--frame" && hasValue) {
      frames.push_back(argv[++i]);
    } else if (a == "--scenario" && hasValue) {
      scenario = argv[++i];
    } else if (a == "--check") {
      checkOnly = true;
    } else if (a == "--models") {
      for (const FrameModel& m : Catalogue())
        std::printf("%-12s vid %04x pid %04x version %04x layout %-2s  %s\n", m.name.c_str(),
                    m.vendorId, m.productId, m.versionNumber, LayoutName(LayoutOf(m)),
                    m.summary.c_str());
      return 0;
    } else {
      return Usage();
    }
  }

  Simulator sim;
  int setup = sim.AddClient(
      [](const std::string& reply) {
        if (reply.compare(0, 3, "err") == 0) std::fprintf(stderr, "framesim: %s\n", reply.c_str());
      },
      nullptr);
  for (const std::string& f : frames) {
    auto colon = f.find(':');
    std::string line =
        "add " + (colon == std::string::npos ? f : f.substr(0, colon) + " " + f.substr(colon + 1));
    sim.OnLine(setup, line);
    if (!sim.FrameNamed(colon == std::string::npos ? f : f.substr(colon + 1))) return 2;
  }
  sim.RemoveClient(setup);
  if (!scenario.empty()) {
    std::string error;
    if (!sim.LoadScenario(scenario, error)) {
      std::fprintf(stderr, "framesim: %s\n", error.c_str());
      return 2;
    }
  }
  if (checkOnly) return 0;

  Server server(sim);
  std::string error;
  if (!server.Listen(static_cast<unsigned short>(port), error)) {
    std::fprintf(stderr, "framesim: %s\n", error.c_str());
    return 1;
  }
  if (!portFile.empty()) {
    std::string tmp = portFile + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f || std::fprintf(f, "%u\n", server.Port()) < 0 || std::fclose(f) != 0 ||
        std::rename(tmp.c_str(), portFile.c_str()) != 0) {
      std::fprintf(stderr, "framesim: cannot write %s\n", portFile.c_str());
      return 1;
    }
  }
  std::printf("listening on 127.0.0.1:%u\n", server.Port());
  std::fflush(stdout);
  server.Run();
  return sim.ScenarioFailed() ? 1 : 0;
}
