// Vantrel's entry, headless: the service runs its start-up, then waits for
// Ctrl+C or a termination request (or the end of --seconds), and shuts down,
// so receivers get their empty bundles and the frame its exit commands.
// The program also exports the driver-API functions (linked in from bridge/).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/ServiceApp.h"
#include "app/Settings.h"
#include "bridge/BridgeDriverApi.h"
#include "platform/Hid.h"
#include "platform/Termination.h"
#include "platform/Trace.h"

namespace {

struct CommandLine {
  long long runMs = -1;   // until a request
  std::string readyFile;  // written once start-up is complete
  bool traceSet = false;  // --log given
  trace::Level traceLevel = trace::Level::Off;
};

void Usage(const char* program) {
  std::fprintf(stderr,
               "usage: %s [--seconds N] [--ready-file FILE] [--log LEVEL]\n"
               "  --seconds N        shut down after N seconds (default: on Ctrl+C or a\n"
               "                     termination request)\n"
               "  --ready-file FILE  write FILE once the start-up is complete\n"
               "  --log LEVEL        trace error, warn, info or debug lines (default: off,\n"
               "                     or VANTREL_LOG; VANTREL_LOG_FILE names a file too)\n",
               program);
}

bool Parse(int argc, char** argv, CommandLine& out) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seconds" && i + 1 < argc) {
      char* end = nullptr;
      errno = 0;
      const double s = std::strtod(argv[++i], &end);
      if (errno != 0 || end == argv[i] || *end != '\0' || !(s >= 0) || s > 1e9) {
        std::fprintf(stderr, "%s: --seconds wants a number of seconds, not \"%s\"\n", argv[0],
                     argv[i]);
        return false;
      }
      out.runMs = static_cast<long long>(s * 1000.0);
    } else if (arg == "--ready-file" && i + 1 < argc) {
      out.readyFile = argv[++i];
    } else if (arg == "--log" && i + 1 < argc) {
      if (!trace::ParseLevel(argv[++i], out.traceLevel)) {
        std::fprintf(stderr, "%s: --log wants off, error, warn, info or debug, not \"%s\"\n",
                     argv[0], argv[i]);
        return false;
      }
      out.traceSet = true;
    } else {
      Usage(argv[0]);
      return false;
    }
  }
  return true;
}

// Written whole under a temporary name and renamed, so a script polling for
// it never reads it half written.
void WriteReadyFile(const std::string& path) {
  const std::string temp = path + ".tmp";
  if (std::FILE* f = std::fopen(temp.c_str(), "w")) {
    std::fputs("ready\n", f);
    std::fclose(f);
    std::remove(path.c_str());
    std::rename(temp.c_str(), path.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine cmd;
  if (!Parse(argc, argv, cmd)) return 2;
  // Before any thread starts: the signals are taken by the wait below.
  platform::TerminationWatch termination;
  trace::Process().ConfigureFromEnvironment();
  if (cmd.traceSet) {
    trace::Process().ConfigurePlatform(cmd.traceLevel, std::getenv("VANTREL_LOG_FILE"));
  }
  {
    std::unique_ptr<platform::HidBackend> hid = platform::CreateHidBackend();
    bridge::BridgeDriverApi driver;
    ServiceApp::Options options;
    options.settingsPath = SettingsFilePath();
    ServiceApp app(*hid, driver, std::move(options));
    app.Start();
    if (!cmd.readyFile.empty()) WriteReadyFile(cmd.readyFile);
    termination.wait(cmd.runMs);
    app.ShutDown();
  }
  termination.shutdownDone();
  return 0;
}
